// Every choice of a run, as read from the parameters file. One object per run
// (or per task), passed explicitly to the code that reads it.
#pragma once

#include <string>

namespace varnik {

// Recognition method codes.
enum RecognitionMethod : int {
  kSVM = 0,
  kKNN = 1,
  kC45 = 2,
  kSTOP = 3,
  kEasyEnsemble = 4,
  kBalanceCascadeEnsemble = 5,
  kPWM = 6,
  kNeuralNet = 7,
  kStackingMethod = 8,
};

enum ImbalanceMethod : int { kImbalanceNone = 0, kUndersampling = 1, kSmote = 2 };
enum FeatureSelection : int { kFSNone = 0, kFSRFE = 1, kFSGA = 2 };

struct Settings {
  std::string Datad = "Research/Experiments/Data/Class";
  int Imbalance_method = kImbalanceNone;
  bool Eval_training = false;
  int Offset = 0;
  int Length = 0;
  bool Use_protein_sequence = false;
  std::string Mask_file = "nil";
  int Verbose = 0;
  int Seed = 0;
  int R_method = kSTOP;
  float Sensitivity = 0.8f;
  bool CV_parameters = true;
  bool Write_AUC_data = false;
  int FSAlgorithm = kFSNone;
  int RFE_subset_size = 10;
  float FS_percent_to_keep = 0.0f;
  int CV_folds = 10;
  float FS_min_percent = 0.5f;
  bool Exit_after_FS = false;
  bool Stacking = false;
  int Stacking_methods = 71;
  bool Scale = true;
  int Stacker = kSVM;
  short TRIALS = 1;
  bool Prune_tree = true;
  bool Soften_thresholds = true;
  int Kernel = 0;
  float Gamma = 1.0f;
  float C = 1.0f;
  int Degree = 22;
  int K = 3;
  int Min_k = 3;
  int Max_k = 100;
  bool KNN_weight_by_distance = true;
  int Base_learner = kC45;
  int Ensemble_T = 10;
  int Easy_s_i = 10;
  int Smote_k = 5;
  float Smote_N = 100.0f;
  int NN_hidden_nodes = 100;
  int N_epochs = 100000;
  int Epoch_size = 16;
  float Eta = 0.0f;
  float Alpha = 0.0f;
  float Htan_A = 1.0f;
  float Htan_B = 0.3333f;
  float Flat_spot = 0.01f;
  float GAFS_alpha = 0.5f;
  float GAFS_mutation = 0.1f;
  float GAFS_lsmutation = 0.1f;
  float GAFS_bit_mutation = 0.1f;
  float GAFS_set_probability = 0.75f;
  int GAFS_popsize = 100;
  int GAFS_generations = 1000;

  // From the command line's fifth argument.
  bool save_outputs = false;
  bool save_model = false;

  // Threads for the work that splits into independent pieces (--threads N or
  // VARNIK_THREADS before it; every result is the same for any number).
  int threads = 1;
  // Progress lines on standard error (--progress, or standard error is a
  // terminal).
  bool progress = false;
  // What the kernel caches of the SVM trainings running at once may take, in
  // bytes (--memory; 0: half of the machine's physical memory).
  long long memory_bytes = 0;
  // Standard output carries data (score, scan): every message goes to
  // standard error.
  bool messages_on_stderr = false;
};

}  // namespace varnik

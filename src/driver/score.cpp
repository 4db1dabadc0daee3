#include "driver/score.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/error.h"
#include "core/output_file.h"
#include "driver/evaluation.h"
#include "driver/mask.h"
#include "driver/parameters.h"
#include "driver/saved_model.h"
#include "sequence/fasta.h"
#include "sequence/protein.h"

namespace varnik {

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

int RunScore(const std::vector<std::string>& args, int threads) {
  if (args.size() < 5 || args.size() > 6) {
    std::printf("%s\n", kScoreUsageLine);
    return 1;
  }
  const std::string& params_path = args[2];
  const std::string& model_path = args[3];
  const std::string& fasta_path = args[4];
  const std::string output = args.size() > 5 ? args[5] : "";
  for (const std::string& input : {params_path, model_path, model_path + ".svm", fasta_path}) {
    if (!output.empty() && SameFile(output, input)) {
      OnErrorExit(kUnspecifiedError,
                  "The output " + output + " is the input file " + input + ": choose another name");
    }
  }
  // The windows are cut as training cut them: the same parameters, echoed
  // nowhere.
  Settings settings;
  settings.threads = threads;
  const ParameterFile params = ParameterFile::Read(params_path, "LoadString");
  OutputFile sink;
  LoadGlobalParameters(params, settings, sink);
  WarnAboutParameters(params, settings);
  CheckParameterValues(params, settings);
  const std::unique_ptr<SvmRecognizer> model = LoadModel(model_path);
  SequenceSet windows;
  std::vector<std::string> names;
  int L = ReadFastaFile(fasta_path, settings, windows, &names);
  if (settings.Use_protein_sequence) L = ConvertToProtein(windows, L);
  if (L != model->length()) {
    OnErrorExit(kUnspecifiedError, "The windows of " + fasta_path + " have " + std::to_string(L) +
                                       " letters, the model's " + std::to_string(model->length()));
  }
  if (!MaskFileIsNil(settings.Mask_file)) {
    L = ApplyMask(windows, L, ReadMaskFile(settings.Mask_file, L));
  }
  const std::vector<float> scores = ScoreWindows(*model, windows, L, 0, threads);
  OutputFile out;
  if (!out.Open(output.empty() ? "/dev/stdout" : output)) {
    Diagnose("cannot create " + output + ": " + SystemReason());
    OnErrorExit(kUnspecifiedError, "Cannot open file for saving outputs");
  }
  for (int i = 0; i < windows.size(); ++i) {
    const int call = scores[i] > model->threshold() ? 1 : 0;
    out.Printf("%s\t%.6f\t%d\n", names[i].c_str(), static_cast<double>(scores[i]), call);
  }
  out.Close();
  return 0;
}

}  // namespace varnik

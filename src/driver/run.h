// One run of the program: train one recogniser and (unless the test prefix is
// NIL) test it, writing the report. Returns the exit status; failures are
// thrown as VarnikError.
#pragma once

#include <string>
#include <vector>

#include "driver/curves.h"
#include "driver/evaluation.h"

namespace varnik {

inline constexpr const char* kUsageLine =
    "varnik train-file[pos/neg] {test-file[pos/neg]|NIL} parameters output "
    "[save-outputs/save-model]";

inline constexpr const char* kVersion = "varnik 1.0";

// args[0] is the command name; "--help" (or "-h") and "--version" alone print
// the usage or the version.
int RunVarnik(const std::vector<std::string>& args);

// The figures of a training run made in the calling process.
struct TrainingOutcome {
  bool tested = false;  // false for the test prefix NIL
  EvaluationResults test;
  AucInterval auc;
  double ap = 0;
  std::vector<RocRow> roc;  // the report's eleven rows
  bool training_evaluated = false;
  EvaluationResults training;
};

// A training run as the command line makes it from args (command name,
// train prefix, test prefix or NIL, parameters file, report), writing the
// recogniser to model_path, with nothing on standard output and no closing
// line; every warning about a line of the parameters file ends the run with
// its words instead of passing.
TrainingOutcome TrainInProcess(const std::vector<std::string>& args, int threads,
                               const std::string& model_path, long long memory_bytes);

}  // namespace varnik

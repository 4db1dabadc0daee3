// "varnik score": a saved recogniser applied to the windows of a FASTA file.
#pragma once

#include <string>
#include <vector>

namespace varnik {

inline constexpr const char* kScoreUsageLine = "varnik score parameters model fasta [output]";

// args[0] is the command name, args[1] "score". Writes one line per window,
// "name<TAB>score<TAB>call" (call 1 when the score is above the model's
// threshold), to the output file or standard output. Returns the exit status.
int RunScore(const std::vector<std::string>& args, int threads);

}  // namespace varnik

// One run of the program: train one recogniser and (unless the test prefix is
// NIL) test it, writing the report. Returns the exit status; failures are
// thrown as VarnikError.
#pragma once

#include <string>
#include <vector>

namespace varnik {

inline constexpr const char* kUsageLine =
    "varnik train-file[pos/neg] {test-file[pos/neg]|NIL} parameters output "
    "[save-outputs/save-model]";

inline constexpr const char* kVersion = "varnik 1.0";

// args[0] is the command name; "--help" (or "-h") and "--version" alone print
// the usage or the version.
int RunVarnik(const std::vector<std::string>& args);

}  // namespace varnik

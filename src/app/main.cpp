// varnik: trains and tests recognisers of functional sites in DNA windows.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/output_file.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  varnik::RemoveTemporariesOnSignals();
  try {
    return varnik::RunVarnik(args);
  } catch (const varnik::VarnikError& e) {
    std::FILE* to = e.on_standard_error() ? stderr : stdout;
    if (e.quiet()) {
      // nothing to say
    } else if (e.raw()) {
      std::fputs(e.what(), to);
    } else {
      std::fprintf(to, "%s\n", e.Line().c_str());
    }
    std::fflush(to);
    return e.code();
  } catch (const std::bad_alloc&) {
    std::printf("%s: %s\n", varnik::ErrorText(varnik::kCannotAllocateMemory), "out of memory");
    return varnik::kCannotAllocateMemory;
  } catch (const std::exception& e) {
    std::printf("%s: %s\n", varnik::ErrorText(varnik::kUnspecifiedError), e.what());
    return varnik::kUnspecifiedError;
  }
}

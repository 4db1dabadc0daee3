// varnik: trains and tests recognisers of functional sites in DNA windows.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "core/error.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  try {
    return varnik::RunVarnik(args);
  } catch (const varnik::VarnikError& e) {
    if (e.raw()) {
      std::fputs(e.what(), stdout);
    } else {
      std::printf("%s\n", e.Line().c_str());
    }
    return e.code();
  } catch (const std::bad_alloc&) {
    std::printf("%s: %s\n", varnik::ErrorText(varnik::kCannotAllocateMemory), "out of memory");
    return varnik::kCannotAllocateMemory;
  } catch (const std::exception& e) {
    std::printf("%s: %s\n", varnik::ErrorText(varnik::kUnspecifiedError), e.what());
    return varnik::kUnspecifiedError;
  }
}

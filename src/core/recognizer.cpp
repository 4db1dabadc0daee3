#include "core/recognizer.h"

#include "core/error.h"

namespace varnik {

void Recognizer::Save(const std::string&) const {
  OnErrorExit(kUnspecifiedError, "Not yet implemented");
}

void Recognizer::WritePayload(ModelWriter&) const {
  OnErrorExit(kUnspecifiedError, "Not yet implemented");
}

}  // namespace varnik

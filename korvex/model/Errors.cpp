#include "Errors.h"

#include <cstring>

namespace korvex {

void RaiseFileError(const std::string& action, const std::string& fileName, int errnoValue) {
    throw EFileError(action + " \"" + fileName + "\": " + std::strerror(errnoValue));
}

}  // namespace korvex

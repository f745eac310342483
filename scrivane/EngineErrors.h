#pragma once
// The two kinds of failure of an engine job: an error reported by the
// inference runtime (exit 20 / 10) and every other error (exit 21 / 11).
#include <stdexcept>
#include <string>

namespace scrivane {

class EEngineError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class ERuntimeError : public std::runtime_error {
public:
  ERuntimeError(const std::string& message, int code) : std::runtime_error(message), FCode(code) {}
  int Code() const { return FCode; }

private:
  int FCode;
};

}  // namespace scrivane

#pragma once
// Errors raised by Korvex. Each carries a finished message for the operator;
// window actions show it after their own prefix.
#include <stdexcept>
#include <string>

namespace korvex {

class EKorvexError : public std::runtime_error {
public:
    explicit EKorvexError(const std::string& message) : std::runtime_error(message) {}
};

// A file that cannot be opened, read or written; the message names the file.
class EFileError : public EKorvexError {
public:
    using EKorvexError::EKorvexError;
};

// A text that should be an integer and is not; the message names the text.
class EConvertError : public EKorvexError {
public:
    using EKorvexError::EKorvexError;
};

// Builds the message for a failed open, with the system's reason.
[[noreturn]] void RaiseFileError(const std::string& action, const std::string& fileName, int errnoValue);

}  // namespace korvex

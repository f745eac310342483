#pragma once
// JSON text for the machine-readable outputs (ground truth, command line).
#include <string>

namespace korvex {

// The text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace korvex

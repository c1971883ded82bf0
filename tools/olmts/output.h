// Text forms shared by the commands' tables and JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace olmts {

using Json = nlohmann::ordered_json;

// Shortest text that reads back as the same double ("nan", "inf" as such).
std::string Number(double value);
// A JSON number, or its text where JSON has no number for it (NaN, infinity).
Json JsonNumber(double value);
// A text field of up to 16 bytes, NUL-terminated unless all are used.
std::string Text16(const char* bytes);
// File name without its folder, for listing the files of a set.
std::string FileName(const std::string& path);

}  // namespace olmts

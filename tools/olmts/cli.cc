#include "olmts/cli.h"

#include <cmath>

#include "olmts/tool.h"

namespace olmts {
namespace {

// Reads `text` as a number the way the options do; nullopt when it is none.
std::optional<double> AsNumber(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size()) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

CLI::Validator NumberCheck(const char* wanted, bool (*accept)(double)) {
  return CLI::Validator(
      [wanted, accept](std::string& text) -> std::string {
        const std::optional<double> value = AsNumber(text);
        if (!value || !accept(*value)) return "'" + text + "' is not " + wanted;
        return "";
      },
      "", "");
}

}  // namespace

const CLI::Validator kFiniteNonNegative =
    NumberCheck("a finite number of 0 or more", [](double v) { return std::isfinite(v) && v >= 0; });
const CLI::Validator kFinitePositive =
    NumberCheck("a finite number above 0", [](double v) { return std::isfinite(v) && v > 0; });
const CLI::Validator kWholeNonNegative = NumberCheck(
    "a whole number of 0 or more", [](double v) { return std::isfinite(v) && v >= 0 && v == std::floor(v); });

CLI::Option* AddBase(CLI::App* command, std::string* base) {
  return command->add_option("BASE", *base, "recording base path (BASE.TBL is its table file)")->required();
}

CLI::Option* AddStream(CLI::App* command, int* stream) {
  return command->add_option("--stream,-s", *stream, "stream number: 0 spectral, 1 ... 5 time series")->required();
}

CLI::Option* AddConcat(CLI::App* command, bool* concat) {
  return command->add_flag("--concat", *concat, "follow the stream over its dated file set");
}

CLI::Option* AddJson(CLI::App* command, bool* json) {
  return command->add_flag("--json", *json, "machine-readable output");
}

CLI::Option* AddStart(CLI::App* command, std::optional<std::string>* start, const std::string& what) {
  return command->add_option("--start", *start, what + " at or after this time (ISO 8601)");
}

CLI::Option* AddCount(CLI::App* command, std::optional<long long>* count, const std::string& what) {
  return command->add_option("--count,-n", *count, "number of " + what)->check(kWholeNonNegative);
}

CLI::Option* AddAllowErrors(CLI::App* command) {
  return command->add_flag_callback(
      "--allow-errors", [] { AllowReadProblems(); },
      "exit 0 even when a stream stops early or a file of its set is not read (still reported)");
}

void AddStreamWalkOptions(CLI::App* command, StreamWalkOptions* options) {
  AddBase(command, &options->base);
  AddStream(command, &options->stream);
  AddConcat(command, &options->concat);
  AddJson(command, &options->json);
  AddAllowErrors(command);
}

}  // namespace olmts

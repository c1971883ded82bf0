// The options several subcommands share, declared once so that every command
// spells, checks and documents them alike.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

namespace olmts {

// Exit codes of olmts, the same for every command.
enum ExitCode : int {
  kExitOk = 0,
  kExitError = 1,         // usage error, or the command could not do what was asked
  kExitReadProblems = 2,  // done, but a stream stopped early or a file of a set was not read
};

// A subcommand and the options it parses into.
template <typename Options>
struct Subcommand {
  CLI::App* command;
  Options* options;
};

// Adds subcommand `name` with default options, which live as long as the tool
// does, and runs `run` on them when the command is chosen. The caller adds the
// command's options.
template <typename Options>
Subcommand<Options> AddSubcommand(CLI::App& app, const std::string& name, const std::string& description,
                                  void (*run)(const Options&)) {
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(name, description);
  command->callback([options, run] { run(*options); });
  return {command, options.get()};
}

// BASE: the recording's base path, or the path of its table file.
CLI::Option* AddBase(CLI::App* command, std::string* base);
// --stream N, required. Numbers are checked by the commands so that the
// message can name the recording's file.
CLI::Option* AddStream(CLI::App* command, int* stream);
CLI::Option* AddConcat(CLI::App* command, bool* concat);
CLI::Option* AddJson(CLI::App* command, bool* json);
// --start TIME (ISO 8601).
CLI::Option* AddStart(CLI::App* command, std::optional<std::string>* start, const std::string& what);
// --count N, a whole number 0 or more.
CLI::Option* AddCount(CLI::App* command, std::optional<long long>* count, const std::string& what);
// --allow-errors: a stream that stops early is reported but does not change
// the exit code.
CLI::Option* AddAllowErrors(CLI::App* command);
// What every command that walks a whole stream takes: BASE, --stream, --concat,
// --json and --allow-errors.
struct StreamWalkOptions {
  std::string base;
  int stream = 1;
  bool concat = false;
  bool json = false;
};
void AddStreamWalkOptions(CLI::App* command, StreamWalkOptions* options);

// Validators whose messages say what is wanted rather than a numeric range.
extern const CLI::Validator kFiniteNonNegative;
extern const CLI::Validator kFinitePositive;
extern const CLI::Validator kWholeNonNegative;

}  // namespace olmts

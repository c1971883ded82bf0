// olmts: answers a field geophysicist's first questions about a recording from
// the shell: what is in it, is it complete, what do the samples look like, and
// what is the instrument's response.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/tool.h"

namespace {

// The subcommand the parser was working on, for the hint after a usage error.
std::string CommandName(const CLI::App& app) {
  for (const CLI::App* command : app.get_subcommands()) return command->get_name();
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "olmts: inspect electromagnetic field recordings and their calibrations.\n"
      "BASE is a recording's path without extension (BASE.TBL is its table file).\n"
      "Times are ISO 8601, e.g. 2026-03-14T10:00:00.",
      "olmts"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "olmts " OLMTS_VERSION);
  app.footer(
      "Exit status: 0 done; 1 usage error, or the command could not do what was asked; 2 done, but a stream\n"
      "stopped early on a fault or a file of its set was not read (reported on stderr; --allow-errors exits 0).");

  olmts::AddInfoCommand(app);
  olmts::AddParamsCommand(app);
  olmts::AddTagsCommand(app);
  olmts::AddGapsCommand(app);
  olmts::AddScansCommand(app);
  olmts::AddSpectraCommand(app);
  olmts::AddResponseCommand(app);
  olmts::AddSampleCommand(app);
  olmts::AddDemoCommand(app);
  olmts::AddExportCommand(app);

  // The chosen command runs as the parser's callback, so its failures arrive
  // here as well as the parser's.
  try {
    app.parse(argc, argv);
    std::cout.flush();
    if (!std::cout) throw olmts::ToolError("cannot write the output");
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    std::cout.flush();
    const std::string command = CommandName(app);
    if (command.empty() && argc > 1 && argv[1][0] != '-') {
      std::fprintf(stderr, "olmts: unknown command '%s'\nRun 'olmts --help' for the commands.\n", argv[1]);
      return olmts::kExitError;
    }
    std::fprintf(stderr, "olmts: %s%s\nRun 'olmts %s--help' for usage.\n",
                 command.empty() ? "" : (command + ": ").c_str(), e.what(),
                 command.empty() ? "" : (command + " ").c_str());
    return olmts::kExitError;
  } catch (const olmts::ToolError& e) {
    std::cout.flush();
    std::fprintf(stderr, "olmts: %s\n", e.what());
    return olmts::kExitError;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "olmts: out of memory\n");
    return olmts::kExitError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "olmts: %s\n", e.what());
    return olmts::kExitError;
  }
  return olmts::ReadProblemsChangeExitCode() ? olmts::kExitReadProblems : olmts::kExitOk;
}

// `survey`: the inventory and batch jobs of a whole survey. They are the Python
// package's (olmtsfil.survey, on pandas and Dask), so the tool hands over to it
// with the library it was linked against: one implementation, one answer.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>
#include <vector>

#include "olmts/commands.h"
#include "olmts/tool.h"
#include "olmtsfil.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace olmts {
namespace {

// Returns only when Python cannot be started.
void RunSurvey(const std::vector<std::string>& arguments) {
#if defined(_WIN32)
  (void)arguments;
  throw ToolError("survey: run `python -m olmtsfil.survey` on Windows (the tool does not start Python there)");
#else
  // The package beside the sources of this build, unless told otherwise; an
  // installed package is found by Python itself.
  std::string path;
  if (const char* dir = std::getenv("OLMTSFIL_PYTHON_DIR"); dir != nullptr && *dir != '\0') path = dir;
#ifdef OLMTS_PYTHON_SOURCE_DIR
  if (path.empty()) path = OLMTS_PYTHON_SOURCE_DIR;
#endif
  if (!path.empty()) {
    const char* old = std::getenv("PYTHONPATH");
    const std::string joined = old != nullptr && *old != '\0' ? path + ":" + old : path;
    setenv("PYTHONPATH", joined.c_str(), 1);
  }
  Dl_info info{};
  if (std::getenv("OLMTSFIL_LIBRARY") == nullptr && dladdr(reinterpret_cast<void*>(&TSOpenHT), &info) != 0 &&
      info.dli_fname != nullptr)
    setenv("OLMTSFIL_LIBRARY", info.dli_fname, 1);
  // The package's export and spectra jobs run this very tool per recording.
  if (std::getenv("OLMTSFIL_TOOL") == nullptr) {
    std::vector<char> self(4096);
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n > 0) setenv("OLMTSFIL_TOOL", std::string(self.data(), static_cast<std::size_t>(n)).c_str(), 1);
  }
  const char* python = std::getenv("OLMTSFIL_PYTHON");
  if (python == nullptr || *python == '\0') python = "python3";
  std::vector<std::string> args = {python, "-m", "olmtsfil.survey"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execvp(python, argv.data());
  throw ToolError(std::string("survey: cannot start ") + python + " (the survey runs in the olmtsfil Python package)");
#endif
}

}  // namespace

void AddSurveyCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "survey",
      "inventory of every recording and calibration below DIR, calibrations matched by serial; batch export on "
      "Dask (done by the olmtsfil Python package: `olmts survey --help` lists its options)");
  // Everything after `survey` goes to the package, --help included.
  command->prefix_command();
  command->set_help_flag();
  command->callback([command] { RunSurvey(command->remaining()); });
}

}  // namespace olmts

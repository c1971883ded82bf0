// The subcommands of olmts, one file each. Every Add...Command function adds
// its subcommand with its options to the tool and runs it when it is chosen;
// a command writes its result to stdout, and throws a ToolError for anything it
// cannot do. A new command is a file of its own and one line in main.cc.
#pragma once

namespace CLI {
class App;
}

namespace olmts {

void AddInfoCommand(CLI::App& app);
void AddParamsCommand(CLI::App& app);
void AddTagsCommand(CLI::App& app);
void AddGapsCommand(CLI::App& app);
void AddScansCommand(CLI::App& app);
void AddSpectraCommand(CLI::App& app);
void AddResponseCommand(CLI::App& app);
void AddSampleCommand(CLI::App& app);
void AddDemoCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);  // export/export_cli.cc

}  // namespace olmts

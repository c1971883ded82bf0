#include <CLI/CLI.hpp>
#include <memory>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/export/export.h"
#include "olmts/units_cli.h"

namespace olmts {

void AddExportCommand(CLI::App& app) {
  const auto [command, added] = AddSubcommand(app, "export",
                                              "time series as miniSEED 2 (Steim-2 counts, one file per channel and "
                                              "stream) and a StationXML station.xml with every channel's response",
                                              RunExport);
  ExportOptions& options = *added;
  AddBase(command, &options.base);
  command->add_option("--format", options.format, "output format")
      ->check(CLI::IsMember({"mseed"}))
      ->capture_default_str();
  command->add_option("--out,-o", options.out, "output folder, created when missing")->required();
  command->add_option("--box", options.box, "box calibration base path (BOX.CLB): gives station.xml the responses");
  command->add_option("--sensor", options.sensors,
                      "sensor calibration base path (SENSOR.CLC); repeat for one file per magnetic component, in "
                      "the order Hx, Hy, Hz");
  command->add_option("--sensor-kind", options.chain.sensor_kind, "sensor calibration kind: 2, or 3 for CNOM sensors")
      ->check(CLI::IsMember({2, 3}));
  command->add_option("--network", options.network, "SEED network code")->capture_default_str();
  command->add_option("--station", options.station,
                      "SEED station code (default: the table's site name, its first five letters and digits)");
  command->add_option("--location", options.location, "SEED location code (default: empty)");
  command->add_option("--stream,-s", options.streams, "time-series stream 1 ... 5; repeat for several (default: all)")
      ->check(CLI::Range(1, 5));
  AddChainOptions(command, &options.chain);
  AddConcat(command, &options.concat);
  AddAllowErrors(command);
}

}  // namespace olmts

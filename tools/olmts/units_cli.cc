#include "olmts/units_cli.h"

#include "olmts/cli.h"

namespace olmts {

void AddChainOptions(CLI::App* command, ChainOptions* options) {
  command->add_flag("--require-sensors", options->require_sensors,
                    "refuse a magnetic channel without a sensor calibration instead of taking the table's nominal "
                    "value");
  command->add_flag("--force-box", options->force_box,
                    "use a box calibration whose SNUM is not the one of the recording's records");
  command
      ->add_option("--gain-frequency", options->gain_frequency,
                   "frequency at which stage gains are stated, Hz (default: a hundredth of the sample rate)")
      ->check(kFinitePositive);
}

}  // namespace olmts

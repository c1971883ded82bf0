// The sample recording of `sample` and `demo`, made by the test-data writer.
#pragma once

#include <string>

#include "writer/sample_recording.h"

namespace olmts {

// Writes the sample recording and its calibrations into `directory`; a
// ToolError names the folder when that fails.
olmtsfil::testdata::SampleRecording WriteSample(const std::string& directory);

}  // namespace olmts

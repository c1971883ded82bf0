// Walking a stream's records for the commands that read one stream.
#pragma once

#include <cstdint>

#include "olmts/tool.h"

namespace olmts {

// Checks the stream number and that the stream is usable, then applies --concat.
void PrepareStream(const Recording& recording, int stream, bool concat);

// The status that ended a walk over the records: the end of the data is the
// normal end, anything else is an error in the file.
void CheckEnd(const Recording& recording, int stream, int32_t status, long long records);

}  // namespace olmts

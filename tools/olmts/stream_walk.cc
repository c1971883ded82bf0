#include "olmts/stream_walk.h"

#include <string>

namespace olmts {

void PrepareStream(const Recording& recording, int stream, bool concat) {
  recording.RequireStream(stream);
  SetConcatHT(recording.get(), concat ? 1 : 0);
}

void CheckEnd(const Recording& recording, int stream, int32_t status, long long records) {
  if (status != OLMTS_END_OF_DATA) Check(status, recording.Where(stream) + ": after record " + std::to_string(records));
}

}  // namespace olmts

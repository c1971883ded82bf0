// Writes DIR/rateunit.TBL, .TS4 and .TS5: streams whose tags carry non-zero
// rate-unit bytes (2 on stream 4, -1 on stream 5), in bursts separated by gaps,
// so that the Python package and the tool can be checked to count the gaps the
// same way. Prints the base path.
// Usage: olmtsfil_python_test_recording DIR
#include <cstdio>
#include <string>

#include "writer/stream_writer.h"
#include "writer/table_writer.h"

using namespace olmtsfil::testdata;

namespace {

// Records of `tag` one `period_s` apart, in bursts of `per_burst` records with
// `pause_s` extra seconds between bursts.
Bytes Bursts(TagSpec tag, int bursts, int per_burst, int period_s, int pause_s) {
  Bytes file;
  const TimeStamp first = tag.utc;
  int64_t offset = 0;
  for (int b = 0; b < bursts; ++b) {
    for (int r = 0; r < per_burst; ++r) {
      tag.utc = AddSeconds(first, offset);
      Append(file, EncodeRecord(tag, {}));
      offset += period_s;
    }
    offset += pause_s;
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  try {
    RecordingFiles files(argv[1], "rateunit");
    TypicalTable().Write(files.Path(".TBL"));
    TagSpec tag;
    tag.utc = MakeStamp(2026, 3, 14, 23, 50, 0);
    tag.scnt = 15;
    tag.rate = 900;  // per minute for the gap test: 15 scans a second
    tag.runt = 2;
    files.Write(".TS4", Bursts(tag, 3, 10, 1, 5));
    tag.scnt = 10;
    tag.rate = 600;  // 10 scans a second
    tag.runt = -1;
    files.Write(".TS5", Bursts(tag, 2, 8, 1, 3));
    std::printf("%s\n", files.base().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}

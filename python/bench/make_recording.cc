// Writes a large single-stream recording for the Python reading benchmark:
// DIR/bench.TBL and DIR/bench.TS1, stream 1 at 24000 Hz, five channels of 3-byte
// samples in records of one second, at least MEGABYTES of stream data.
// Usage: olmtsfil_python_bench_recording DIR [MEGABYTES=120]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "writer/stream_writer.h"
#include "writer/table_writer.h"

using namespace olmtsfil::testdata;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [MEGABYTES]\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  const double megabytes = argc > 2 ? std::atof(argv[2]) : 120.0;
  RecordingFiles files(directory, "bench");
  TypicalTable().Write(files.Path(".TBL"));  // "SRL1" = 24000

  TagSpec tag;
  tag.scnt = 24000;
  tag.rate = 24000;
  tag.nchn = 5;
  tag.utc = MakeStamp(2026, 3, 14, 0, 0, 0);
  const double record_bytes = static_cast<double>(tag.DataBlockSize() + tag.ltag);
  const int records = static_cast<int>(megabytes * 1e6 / record_bytes) + 1;

  std::ofstream out(files.Path(".TS1"), std::ios::binary | std::ios::trunc);
  constexpr int kRecordsPerChunk = 16;  // bounds the memory of the encoder
  for (int first = 0; first < records && out; first += kRecordsPerChunk) {
    TagSpec chunk = tag;
    chunk.utc = AddSeconds(tag.utc, first);  // one record per second
    const int count = std::min(kRecordsPerChunk, records - first);
    const Bytes bytes = EncodeStream(chunk, count, PatternSample, static_cast<int64_t>(first) * tag.scnt);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", files.Path(".TS1").c_str());
    return 1;
  }
  std::printf("%s %d %d\n", files.base().c_str(), records, static_cast<int>(tag.scnt));
  return 0;
}

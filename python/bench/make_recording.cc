// Writes a large single-stream recording for the Python reading benchmark:
// DIR/bench.TBL and DIR/bench.TS1, at least MEGABYTES of stream 1 in records of
// 1000 scans of six 3-byte samples, one record per second: the layout of the
// stream of bench/reading_bench.cc, so that scans per second compare directly.
// Usage: olmtsfil_python_bench_recording DIR [MEGABYTES=108]
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
  const double megabytes = argc > 2 ? std::atof(argv[2]) : 108.0;
  RecordingFiles files(directory, "bench");
  TypicalTable().Write(files.Path(".TBL"));

  TagSpec tag;
  tag.scnt = 1000;
  tag.rate = 1000;
  tag.nchn = 6;
  tag.ltag = 32;
  tag.utc = MakeStamp(2026, 3, 14, 0, 0, 0);
  const double record_bytes = static_cast<double>(tag.DataBlockSize() + tag.ltag);
  const int records = static_cast<int>(megabytes * 1e6 / record_bytes) + 1;

  std::ofstream out(files.Path(".TS1"), std::ios::binary | std::ios::trunc);
  constexpr int kRecordsPerChunk = 256;  // bounds the memory of the encoder
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
  std::printf("%s %d %d %d\n", files.base().c_str(), records, static_cast<int>(tag.scnt), static_cast<int>(tag.nchn));
  return 0;
}

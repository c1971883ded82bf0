// Reading a recording through the C interface, against plain block reads of the
// same bytes:
//  - ReadScanDblHT and ReadScanHT over a stream of about 108 MB (6 channels,
//    3-byte samples) versus a loop that reads the file in 1 MiB blocks and
//    converts the samples directly;
//  - SeekHT to the last record of a set of ten files with 1,000 records versus
//    reading all of them with ReadRecHT, with data blocks of 18 kB and of 1.17 MB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;

constexpr int kChannels = 6;
constexpr int kScansPerRecord = 1000;
constexpr int kStreamRecords = 6000;  // 6000 x (32 + 18000) bytes: about 108 MB
constexpr int kSetFiles = 10;
constexpr int kSetRecordsPerFile = 100;

TagSpec BenchTag() {
  TagSpec t;
  t.nchn = kChannels;
  t.lsmp = 3;
  t.scnt = kScansPerRecord;
  t.rate = kScansPerRecord;  // one record per second
  t.ltag = 32;
  return t;
}

// A set of ten files with 1,000 records in all.
struct FileSet {
  std::string base;
  TimeStamp last_record{};
  uint64_t block_size = 0;
};

// Files shared by all benchmarks, written once.
struct Fixture {
  ScratchDirectory dir{"olmtsfil-bench"};
  std::string stream_base;
  std::string stream_path;
  int64_t stream_scans = 0;
  // Set 0: records of 1,000 scans (18 kB data blocks), written out.
  // Set 1: records of 65,000 scans (1.17 MB data blocks), sparse: only the tags
  // are written, the data blocks are holes that read as zeros.
  FileSet sets[2];

  Fixture() {
    stream_base = dir.File("long");
    stream_path = stream_base + ".TS1";
    TypicalTable().Write(stream_base + ".TBL");
    {
      std::FILE* f = std::fopen(stream_path.c_str(), "wb");
      TagSpec t = BenchTag();
      for (int r = 0; r < kStreamRecords; ++r) {
        Bytes record = EncodeStream(t, 1, PatternSample, stream_scans);
        std::fwrite(record.data(), 1, record.size(), f);
        stream_scans += t.scnt;
        t.utc = AddSeconds(t.utc, 1);
      }
      std::fclose(f);
    }
    for (int which = 0; which < 2; ++which) {
      TagSpec t = BenchTag();
      if (which == 1) t.scnt = t.rate = 65000;
      FileSet& set = sets[which];
      set.block_size = t.DataBlockSize();
      const std::string prefix = which == 0 ? "set" : "big";
      // Files 3 01 a ... 3 01 e, 3 02 a ... 3 02 e.
      for (int i = 0; i < kSetFiles; ++i) {
        const std::string stem = DatedStem(prefix, 3, 1 + i / 5, static_cast<char>('a' + i % 5));
        if (i == 0) {
          set.base = dir.File(stem);
          TypicalTable().Write(set.base + ".TBL");
        }
        const std::string path = dir.File(stem + ".TS1");
        if (which == 0) {
          WriteFile(path, EncodeStream(t, kSetRecordsPerFile));
        } else {
          std::FILE* f = std::fopen(path.c_str(), "wb");
          for (int r = 0; r < kSetRecordsPerFile; ++r) {
            TagSpec tag = t;
            tag.utc = AddSeconds(t.utc, r);
            const Bytes bytes = EncodeTag(tag);
            std::fseek(f, static_cast<long>(r * t.RecordSize()), SEEK_SET);
            std::fwrite(bytes.data(), 1, bytes.size(), f);
          }
          // The last data block ends the file.
          std::fseek(f, static_cast<long>(kSetRecordsPerFile * t.RecordSize() - 1), SEEK_SET);
          std::fputc(0, f);
          std::fclose(f);
        }
        set.last_record = AddSeconds(t.utc, kSetRecordsPerFile - 1);
        t.utc = AddSeconds(t.utc, kSetRecordsPerFile);
      }
    }
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

void BM_ReadScanDblHT(benchmark::State& state) {
  Fixture& files = Files();
  int64_t scans = 0;
  for (auto _ : state) {
    TsHandle* h = TSOpenHT(files.stream_base.c_str());
    int32_t flag = 0;
    double values[kChannels];
    while (ReadScanDblHT(h, 1, &flag, values) == OLMTS_OK) {
      benchmark::DoNotOptimize(values);
      ++scans;
    }
    TSCloseHT(&h);
  }
  if (scans != files.stream_scans * state.iterations()) state.SkipWithError("scan count differs");
  state.SetItemsProcessed(scans);
}

void BM_ReadScanHT(benchmark::State& state) {
  Fixture& files = Files();
  int64_t scans = 0;
  for (auto _ : state) {
    TsHandle* h = TSOpenHT(files.stream_base.c_str());
    int32_t flag = 0;
    uint8_t scan[kChannels * 3];
    while (ReadScanHT(h, 1, &flag, scan) == OLMTS_OK) {
      benchmark::DoNotOptimize(scan);
      ++scans;
    }
    TSCloseHT(&h);
  }
  if (scans != files.stream_scans * state.iterations()) state.SkipWithError("scan count differs");
  state.SetItemsProcessed(scans);
}

// What a caller could do without the library: read the file in 1 MiB blocks and
// convert the samples where they lie, knowing the layout beforehand.
void BM_BaselineBlockReadAndConvert(benchmark::State& state) {
  Fixture& files = Files();
  const TagSpec t = BenchTag();
  const std::size_t record_size = t.RecordSize();
  const std::size_t records_per_block = (std::size_t{1} << 20) / record_size;
  std::vector<uint8_t> block(records_per_block * record_size);
  int64_t scans = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(files.stream_path.c_str(), "rb");
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), f)) >= record_size) {
      for (std::size_t r = 0; r + record_size <= got; r += record_size) {
        const uint8_t* p = block.data() + r + t.ltag;
        for (int s = 0; s < t.scnt; ++s) {
          double values[kChannels];
          for (int c = 0; c < kChannels; ++c, p += 3) {
            const uint32_t word = (uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 24);
            values[c] = static_cast<double>(static_cast<int32_t>(word)) * 4.656612873077393e-10;
          }
          benchmark::DoNotOptimize(values);
          ++scans;
        }
      }
    }
    std::fclose(f);
  }
  if (scans != files.stream_scans * state.iterations()) state.SkipWithError("scan count differs");
  state.SetItemsProcessed(scans);
}

// The fixed cost inside the two set benchmarks: opening and closing the recording.
void BM_OpenAndCloseSet(benchmark::State& state) {
  const FileSet& set = Files().sets[state.range(0)];
  for (auto _ : state) {
    TsHandle* h = TSOpenHT(set.base.c_str());
    benchmark::DoNotOptimize(h);
    TSCloseHT(&h);
  }
}

void BM_SeekToEndOfSet(benchmark::State& state) {
  const FileSet& set = Files().sets[state.range(0)];
  for (auto _ : state) {
    TsHandle* h = TSOpenHT(set.base.c_str());
    SetConcatHT(h, 1);
    if (SeekHT(h, 1, set.last_record, 0) != OLMTS_OK) state.SkipWithError("seek failed");
    TSCloseHT(&h);
  }
  state.SetItemsProcessed(state.iterations() * kSetFiles * kSetRecordsPerFile);
}

void BM_ReadWholeSet(benchmark::State& state) {
  const FileSet& set = Files().sets[state.range(0)];
  std::vector<uint8_t> block(set.block_size);
  int64_t records = 0;
  for (auto _ : state) {
    TsHandle* h = TSOpenHT(set.base.c_str());
    SetConcatHT(h, 1);
    while (ReadRecHT(h, 1, static_cast<int32_t>(block.size()), block.data()) == OLMTS_OK) ++records;
    TSCloseHT(&h);
  }
  if (records != int64_t{kSetFiles} * kSetRecordsPerFile * state.iterations()) state.SkipWithError("count differs");
  state.SetItemsProcessed(records);
}

BENCHMARK(BM_BaselineBlockReadAndConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadScanDblHT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadScanHT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWholeSet)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SeekToEndOfSet)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenAndCloseSet)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

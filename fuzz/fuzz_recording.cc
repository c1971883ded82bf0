// Fuzzed stream files of one recording, driven through every reading call.
//
// Input: a header of five 16-bit lengths (fuzz_support.h) and the contents of
//   x314a.TFC  spectral stream 0
//   x314a.TS1  stream 1, first file of a dated set ...
//   x314b.TS1  ... and its second file (concatenation is on at open)
//   x314a.TS2  stream 2
//   x314a.TSH  shared file of streams 3 and 4 (and a rate class filter on stream 2)
// followed by a script of calls (one byte each, some with argument bytes). After the
// script every stream is read to its end. The table file is always the same valid
// one, so every input reaches the stream reader.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "olmtsfil.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using olmtsfil::fuzz::InputReader;

constexpr const char* kFiles[] = {"x314a.TFC", "x314a.TS1", "x314b.TS1", "x314a.TS2", "x314a.TSH"};
constexpr int kStreams = 6;
constexpr int kDrainLimit = 4096;  // calls per stream after the script: bounds the run time

const char* const kTagNames[] = {"UTC",   "SNUM",  "SCNT",  "NCHN",  "LTAG",  "STAT",  "SATC",  "LSMP",
                                 "RATE",  "RUNT",  "CLST",  "TERR",  "SBREC", "WINDX", "WISCN", "LEVTP",
                                 "LEVAL", "NFRQT", "NFRQD", "NFREQ", "scnt",  "SCN",   ""};

template <typename T>
std::unique_ptr<T[]> Exact(std::size_t count) {
  return std::unique_ptr<T[]>(new T[count]);  // new T[0] still gives a distinct pointer
}

// What a caller knows right after the open: the size of a scan from the first tag.
struct StreamShape {
  uint32_t channels = 0;
  uint32_t sample_size = 0;
  TimeStamp first_time{};
};

class Session {
 public:
  explicit Session(TsHandle* h) : h_(h) {
    for (int k = 0; k < kStreams; ++k) {
      int32_t v = 0;
      if (ReadTagHT(h_, k, 1, "NCHN", OLMTS_TYPE_INT32, &v) == 0) shape_[k].channels = static_cast<uint32_t>(v);
      if (ReadTagHT(h_, k, 1, "LSMP", OLMTS_TYPE_INT32, &v) == 0) shape_[k].sample_size = static_cast<uint32_t>(v);
      ReadTagHT(h_, k, 1, "UTC", OLMTS_TYPE_TIMESTAMP, &shape_[k].first_time);
    }
  }

  // Buffers are exactly as large as each call's contract says, so any byte written
  // past the contract lands outside them.
  int32_t ReadScan(int k) {
    const int s = k >= 0 && k < kStreams ? k : 0;
    auto scan = Exact<uint8_t>(shape_[s].channels * shape_[s].sample_size);
    int32_t flag = 0;
    return ReadScanHT(h_, k, &flag, scan.get());
  }
  int32_t ReadScanDouble(int k) {
    const int s = k >= 0 && k < kStreams ? k : 0;
    auto values = Exact<double>(shape_[s].channels);
    int32_t flag = 0;
    return ReadScanDblHT(h_, k, &flag, values.get());
  }
  int32_t ReadDftScan(bool with_positions) {
    auto values = Exact<double>(2 * shape_[0].channels);
    int32_t flag = 0, window = 0, level = 0, index = 0;
    if (!with_positions) return ReadDftScanHT(h_, &flag, nullptr, nullptr, nullptr, values.get());
    int32_t status = ReadDftScanHT(h_, &flag, &window, &level, &index, values.get());
    if (status == 0) GetDftFreqHT(h_, index);
    return status;
  }
  int32_t ReadRecord(int k, int32_t size) {
    auto buffer = Exact<uint8_t>(static_cast<std::size_t>(size));
    return ReadRecHT(h_, k, size, buffer.get());
  }
  void ReadTag(int k, uint8_t arg) {
    const char* name = kTagNames[(arg >> 1) % (sizeof kTagNames / sizeof kTagNames[0])];
    const int32_t type = (arg >> 6) == 3 ? 5 : (arg >> 6);
    auto out = Exact<uint8_t>(type == 0 ? 4 : type == 5 ? 8 : 16);
    ReadTagHT(h_, k, arg & 1, name, type, out.get());
  }
  TimeStamp TimeNear(int k, int8_t delta) const {
    const int s = k >= 0 && k < kStreams ? k : 0;
    if (shape_[s].first_time.century == 0) return olmtsfil::testdata::MakeStamp(2026, 3, 14, 10, 0, delta & 63);
    return olmtsfil::testdata::AddSeconds(shape_[s].first_time, delta);
  }

  void RunScript(InputReader& in) {
    for (int step = 0; step < 256 && !in.Empty(); ++step) {
      const uint8_t op = in.Byte();
      const int k = (op >> 4) % 7 == 6 ? -1 : (op >> 4) % 7;  // stream, sometimes an invalid one
      switch (op & 0x0F) {
        case 0: {
          const uint8_t arg = in.Byte();
          ReadRecord(k, arg == 255 ? 65536 : arg * 37);
          break;
        }
        case 1:
          SkipRecHT(h_, k);
          break;
        case 2: {
          const uint8_t arg = in.Byte();
          TimeStamp t{};
          if (arg == 0xFF) {
            std::string_view raw = in.Bytes(8);
            std::memcpy(&t, raw.data(), raw.size());
          } else {
            t = TimeNear(k, static_cast<int8_t>(arg));
          }
          SeekHT(h_, k, t, arg == 0xFE ? 1 : 0);
          break;
        }
        case 3:
          GapHT(h_, k);
          break;
        case 4:
          ReadScan(k);
          break;
        case 5:
          ReadScanDouble(k);
          break;
        case 6:
          ReadTag(k, in.Byte());
          break;
        case 7:
          ReadDftScan(op & 0x10);
          break;
        case 8: {
          const uint8_t arg = in.Byte();
          GetDftFreqHT(h_, arg < 0xF0 ? arg : (arg == 0xFF ? -1 : INT32_MAX - (arg & 0x0F)));
          break;
        }
        case 9:
          SetConcatHT(h_, op & 0x10);
          break;
        case 10: {
          const int n = in.Byte() * 4;
          for (int i = 0; i < n && ReadScanDouble(k) == 0; ++i) {
          }
          break;
        }
        case 11: {
          const int n = in.Byte() * 4;
          for (int i = 0; i < n && ReadDftScan(true) == 0; ++i) {
          }
          break;
        }
        case 12: {
          const int n = in.Byte();
          for (int i = 0; i < n && ReadRecord(k, 65536) == 0; ++i) {
          }
          break;
        }
        case 13:
          SeekHT(h_, k, olmtsfil::testdata::MakeStamp(1990, 1, 1), 0);
          break;
        case 14: {
          int32_t channels = 0;
          double rate = 0;
          GetNumChnHT(h_, &channels);
          GetSampleRateHzHT(h_, k, &rate);
          break;
        }
        default: {
          const int n = in.Byte();
          if (n >= 0xF0) {
            Extension(k, n & 0x0F);
            break;
          }
          for (int i = 0; i < n && SkipRecHT(h_, k) == 0; ++i) {
          }
          break;
        }
      }
    }
  }

  // The extensions that pass over many records at once: the survey's checks
  // (jumping between a file's records by offset), the walk and the block reads.
  void Extension(int k, int arg) {
    switch (arg % 4) {
      case 0: {
        OlmtsStreamSurvey survey{};
        olmts_survey_stream(h_, k, arg & 4 ? 1 : 0, &survey);
        break;
      }
      case 1: {
        OlmtsStreamWalk walk{};
        olmts_walk_stream(h_, k, &walk);
        break;
      }
      default: {
        const int64_t capacity = (arg & 8 ? 4099 : 37) * 12;
        auto values = Exact<double>(static_cast<uint32_t>(capacity));
        int64_t got = 0;
        olmts_read_scans_dbl(h_, k, arg & 4 ? 1 : 0, values.get(), capacity, &got);
        break;
      }
    }
  }

  void Drain() {
    for (int k = 1; k < kStreams; ++k) {
      for (int i = 0; i < kDrainLimit && ReadScan(k) == 0; ++i) {
      }
      GapHT(h_, k);
    }
    for (int i = 0; i < kDrainLimit && ReadDftScan(true) == 0; ++i) {
    }
    for (int32_t index : {0, 1, 7, 100, 1000, -5}) GetDftFreqHT(h_, index);
    // Back to the start of every set, and once more through its records.
    for (int k = 0; k < kStreams; ++k) {
      SeekHT(h_, k, olmtsfil::testdata::MakeStamp(1990, 1, 1), 0);
      for (int i = 0; i < kDrainLimit && SkipRecHT(h_, k) == 0; ++i) GapHT(h_, k);
    }
  }

 private:
  TsHandle* h_;
  StreamShape shape_[kStreams];
};

const std::string& TablePath() {
  static const std::string base = [] {
    olmtsfil::testdata::Bytes table = olmtsfil::testdata::TypicalTable().Encode();
    std::string path = olmtsfil::fuzz::WriteScratchFile("x314a.TBL", table.data(), table.size());
    return path.substr(0, path.size() - 4);
  }();
  return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace olmtsfil::fuzz;
  const std::string& base = TablePath();
  InputReader in(data, size);
  uint16_t lengths[5];
  for (uint16_t& length : lengths) length = in.U16();
  for (int f = 0; f < 5; ++f) {
    if (lengths[f] & kAbsentFile) {
      RemoveScratchFile(kFiles[f]);
      continue;
    }
    std::string_view contents = in.Bytes(lengths[f]);
    WriteScratchFile(kFiles[f], reinterpret_cast<const uint8_t*>(contents.data()), contents.size());
  }

  TsHandle* h = TSOpenHT(base.c_str());
  if (h == nullptr) __builtin_trap();  // the table is valid: stream files never fail the open
  SetConcatHT(h, 1);
  Session session(h);
  session.RunScript(in);
  session.Drain();
  TSCloseHT(&h);
  return 0;
}

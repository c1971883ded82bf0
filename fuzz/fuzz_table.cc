// A fuzzed table file, opened as a recording and read through every table accessor
// and every value derived from the table (channel count, rates, nominal gains,
// acquisition delays). The input is the ".TBL" file itself.
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "olmtsfil.h"

namespace {

// Each read gets a buffer of exactly the size its type promises, so a write past
// it is caught.
std::size_t ValueSize(int32_t type) {
  switch (type & 0xFF) {
    case OLMTS_TYPE_INT32:
      return 4;
    case OLMTS_TYPE_DOUBLE:
    case OLMTS_TYPE_TIMESTAMP:
      return 8;
    case OLMTS_TYPE_TEXT16:
    case OLMTS_TYPE_TEXT:
      return 16;
    default:
      return 1;  // nothing may be written
  }
}

void ReadEveryType(TsHandle* h, const char* name) {
  for (int32_t type : {0, 1, 2, 3, 4, 5, 6, 0x100, -1}) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[ValueSize(type)]);
    ReadPrmHT(h, name, type, out.get());
  }
  char type_out = 0;
  int32_t word = 0, byte1 = 0, byte2 = 0;
  ReadPrmInfoHT(h, name, &type_out, &word, &byte1, &byte2);
  ReadPrmInfoHT(h, name, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace olmtsfil::fuzz;
  std::string path = WriteScratchFile("t.TBL", data, size);
  path.resize(path.size() - 4);
  TsHandle* h = TSOpenHT(path.c_str());
  if (h == nullptr) return 0;

  const int32_t count = GCodePrmHT(h, -1, std::make_unique<char[]>(8).get()) - OLMTS_PARAM_COUNT_BASE;
  if (count < 1 || count > 599) __builtin_trap();  // a successful open holds 1 ... 599 parameters
  for (int32_t i = -1; i <= count; ++i) {
    std::unique_ptr<char[]> name(new char[8]);
    if (GCodePrmHT(h, i, name.get()) != OLMTS_PARAM_COUNT_BASE + count) __builtin_trap();
    char terminated[9] = {};
    std::memcpy(terminated, name.get(), (i >= 0 && i < count) ? 8 : 1);
    ReadEveryType(h, terminated);
  }
  // Names the library itself reads, whatever type the file gave them.
  for (const char* name : {"CHEX", "chhz", "HW", "VER", "TALS", "SRPM", "FSCV", "", "LONGNAME9"})
    ReadEveryType(h, name);

  int32_t channels = 0;
  GetNumChnHT(h, &channels);
  for (int32_t stream = -1; stream <= 6; ++stream) {
    double rate = 0;
    GetSampleRateHzHT(h, stream, &rate);
  }
  // Values derived from the table: twelve gains each, a delay per stream.
  for (auto* gains_of : {&CalcBoxNomGainHT, &CalcSensorNomGainHT}) {
    std::unique_ptr<double[]> gains(new double[12]);
    gains_of(h, gains.get());
  }
  for (int32_t stream = -1; stream <= 6; ++stream) {
    double delay = 0;
    GetAcqDelayHT(h, stream, &delay);
  }
  for (int32_t stream = -1; stream <= 6; ++stream) {
    TimeStamp t{};
    SeekHT(h, stream, t, 0);
    GapHT(h, stream);
  }
  TSCloseHT(&h);
  if (h != nullptr) __builtin_trap();
  return 0;
}

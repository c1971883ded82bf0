// A fuzzed calibration file, opened and evaluated over a frequency sweep.
//
// Input: byte 0 picks the kind asked of CalOpenHT (and so the extension .CLB or
// .CLC), byte 1 one of a few recordings whose tables the responses read, bytes
// 2-9 the decimation, mains, comb, filter and coupling settings of that table
// (byte 2 = 0xFF keeps the table's own), bytes 10-17 one extra frequency (a
// double); the rest is the calibration file.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "olmtsfil.h"
#include "writer/table_writer.h"

namespace {

using olmtsfil::testdata::TableFile;

constexpr int kRecordings = 4;

// Recordings with the settings the responses branch on: channel counts of 5 and
// 3, both kinds of nominal sensor value, boards with a fixed decimation chain and
// with minute-based rates, other mains and comb settings.
TableFile RecordingTable(int which) {
  TableFile t = olmtsfil::testdata::TypicalTable();
  switch (which) {
    case 1:
      t.Set(olmtsfil::testdata::Parameter::Int("CHHY", 0)).Set(olmtsfil::testdata::Parameter::Int("CHHZ", 0));
      t.Double("CNOM", 2.5);
      break;
    case 2:
      t.Int("SRPM", 1).Set(olmtsfil::testdata::Parameter::Text("VER", "4258C0"));
      break;
    case 3:
      t.Set(olmtsfil::testdata::Parameter::Text("VER", "4264B"));
      t.Set(olmtsfil::testdata::Parameter::Int("LFRQ", 60)).Set(olmtsfil::testdata::Parameter::Int("TCMB", 1));
      t.Int("SRW1", 3).Int("SRW2", 6).Int("SRW3", 7);
      break;
    default:
      break;
  }
  return t;
}

// Writes the recording's table with the settings the box response and the
// delay branch on taken from the input; returns its base path.
std::string WriteRecording(int which, olmtsfil::fuzz::InputReader& in) {
  using olmtsfil::testdata::Parameter;
  TableFile t = RecordingTable(which);
  uint8_t settings[8];
  for (uint8_t& b : settings) b = in.Byte();
  if (settings[0] != 0xFF) {
    t.Set(Parameter::Int("TALS", static_cast<int8_t>(settings[0])));
    t.Set(Parameter::Int("LFRQ", settings[1] == 0 ? 50 : settings[1] == 1 ? 60 : static_cast<int8_t>(settings[1])));
    t.Set(Parameter::Int("TCMB", static_cast<int8_t>(settings[2])));
    t.Set(Parameter::Int("K8SR", static_cast<int8_t>(settings[3])));
    t.Set(Parameter::Int("LPFR", static_cast<int8_t>(settings[4])));
    t.Set(Parameter::Int("ACDC", settings[5] & 1)).Set(Parameter::Int("ACDH", (settings[5] >> 1) & 1));
    const int32_t rates[] = {0, 1, 15, 150, 2400, 24000, 65536, -1};
    for (int k = 0; k < 6; ++k) t.Set(Parameter::Int("SRL" + std::to_string(k), rates[(settings[6] >> k) & 7]));
    if (settings[7] & 1) t.Set(Parameter::Text("HW", (settings[7] & 2) ? "SIM5A" : "SIM07"));
    // An "OLM" box without "A" or "PXR" takes the measured tables instead of the circuit.
    if (settings[7] & 4) t.Set(Parameter::Text("HW", "OLM5"));
  }
  olmtsfil::testdata::Bytes bytes = t.Encode();
  const std::string path = olmtsfil::fuzz::WriteScratchFile("rec.TBL", bytes.data(), bytes.size());
  return path.substr(0, path.size() - 4);
}

// Each response call gets arrays of exactly the channel count it promises to fill.
void Sweep(CalHandle* cal, TsHandle* ts, uint32_t cal_channels, uint32_t recording_channels, double extra) {
  const double frequencies[] = {0.0,
                                -0.0,
                                -1.0,
                                -1e300,
                                std::numeric_limits<double>::denorm_min(),
                                1e-300,
                                1e-3,
                                0.1,
                                1.0,
                                50.0,
                                1000.0,
                                1e5,
                                1e300,
                                DBL_MAX,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(),
                                extra};
  for (double f : frequencies) {
    {
      std::unique_ptr<Complex[]> resp(new Complex[cal_channels]);
      std::unique_ptr<double[]> aux(new double[cal_channels]);
      CalcSensorRespHT(cal, ts, f, resp.get(), aux.get());
      CalcSensorRespHT(cal, nullptr, f, resp.get(), aux.get());
    }
    for (int32_t stream = -1; stream <= 6; ++stream) {
      std::unique_ptr<Complex[]> resp(new Complex[recording_channels]);
      std::unique_ptr<double[]> aux(new double[recording_channels]);
      CalcBoxRespHT(cal, ts, stream, f, resp.get(), aux.get());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace olmtsfil::fuzz;
  InputReader in(data, size);
  const uint8_t kind_byte = in.Byte();
  const int32_t kinds[] = {1, 2, 3, 0x101, 1, 2, 3, 4};
  const int32_t kind = kinds[kind_byte & 7];
  const std::string recording = WriteRecording(in.Byte() % kRecordings, in);
  double extra = 0;
  std::string_view extra_bytes = in.Bytes(8);
  std::memcpy(&extra, extra_bytes.data(), extra_bytes.size());
  std::string_view file = in.Rest();

  const bool box = (kind & 0xFF) == 1;
  const std::string name = box ? "cal.CLB" : "cal.CLC";
  std::string path = WriteScratchFile(name, reinterpret_cast<const uint8_t*>(file.data()), file.size());
  path.resize(path.size() - 4);
  CalHandle* cal = CalOpenHT(kind, path.c_str());
  if (cal == nullptr) return 0;

  int32_t nchn = 0;
  if (ReadCalPrmHT(cal, "NCHN", OLMTS_TYPE_INT32, &nchn) != 0) __builtin_trap();  // every kind has it
  for (const char* field : {"UTC", "SNUM", "NCHN", "STAT", "CTYP", "HW", "VER", "TCMB", "TALS", "LFRQ", "K8SR", "LPFR",
                            "HSN", "HATT", "HNOM", "CPHC", "hw", "NONE", ""}) {
    for (int32_t type : {0, 1, 2, 3, 4, 5, 0x105}) {
      std::unique_ptr<uint8_t[]> out(new uint8_t[(type & 0xFF) == 0                         ? 4
                                                 : (type & 0xFF) == 1 || (type & 0xFF) == 5 ? 8
                                                                                            : 16]);
      ReadCalPrmHT(cal, field, type, out.get());
    }
  }

  TsHandle* ts = TSOpenHT(recording.c_str());
  if (ts == nullptr) __builtin_trap();  // the recordings are valid
  int32_t recording_channels = 0;
  GetNumChnHT(ts, &recording_channels);
  Sweep(cal, ts, static_cast<uint32_t>(nchn), static_cast<uint32_t>(recording_channels), extra);
  TSCloseHT(&ts);
  CalCloseHT(&cal);
  if (cal != nullptr) __builtin_trap();
  return 0;
}

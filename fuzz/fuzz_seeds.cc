#include "fuzz_seeds.h"

#include "fuzz_support.h"
#include "writer/box_circuit.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace olmtsfil::fuzz {
namespace {

using testdata::Append;
using testdata::Bytes;
using testdata::MakeStamp;
using testdata::TagSpec;

std::vector<Bytes> TableSeeds() {
  std::vector<Bytes> seeds;
  testdata::TableFile typical = testdata::TypicalTable();
  seeds.push_back(typical.Encode());
  typical.layout = testdata::TableLayout::kOlder25;
  seeds.push_back(typical.Encode());

  testdata::TableFile board;
  board.Int("SRPM", 2).Text("VER", "4258c0").Int("TALS", 7).Int("CHEX", 1).Int("CHHX", 2);
  seeds.push_back(board.Encode());

  testdata::TableFile odd;
  odd.Int("LONGNAME", 1).Text("HW", "ABCDEFGHIJKLMNOP").Int("CHEX", 1).Int("CHEX", 2);
  odd.Add(testdata::Parameter::None("NONE")).Add(testdata::Parameter::Stamp("UTC", MakeStamp(2026, 3, 14)));
  odd.Double("FSCV", -0.0).Int("CHHZ", 13).Int("CHEY", -1);
  odd.terminator = false;
  seeds.push_back(odd.Encode());

  testdata::TableFile many;
  for (int i = 0; i < 64; ++i) many.Int(std::string("P").append(std::to_string(i)), i);
  seeds.push_back(many.Encode());
  return seeds;
}

// Scripts of calls for the recording target (see fuzz_recording.cc for the codes).
const Bytes kScriptMixed = {0x14, 0x15, 0x13, 0x12, 0x05, 0x1D, 0x10, 0xFF, 0x11, 0x16, 0x04, 0x16, 0x21,
                            0x07, 0x17, 0x08, 0x03, 0x3A, 0x0A, 0x4C, 0x05, 0x2F, 0x03, 0x19, 0x09, 0x0E,
                            0x12, 0xFF, 0x00, 0x00, 0x0A, 0x0E, 0x0E, 0x1A, 0x00, 0x14, 0x12, 0xFE, 0x1E};
const Bytes kScriptScans = {0x1A, 0x40, 0x2A, 0x40, 0x3A, 0x40, 0x4A, 0x40, 0x0B, 0x40, 0x13};
const Bytes kScriptSeeks = {0x12, 0x02, 0x13, 0x12, 0x10, 0x1D, 0x13, 0x32, 0x01, 0x42, 0x7F, 0x02, 0x00,
                            0x12, 0xFF, 0x05, 0x00, 0x0A, 0x0E, 0x03, 0x1A, 0x00, 0x14, 0x2D, 0x22, 0x01};
// The extensions on streams 1 and 2: the survey's checks (quick, every tag),
// the walk and block reads, each from the start again.
const Bytes kScriptExtensions = {0x1F, 0xF0, 0x1D, 0x1F, 0xF4, 0x1D, 0x1F, 0xF1, 0x1D, 0x1F, 0xF2,
                                 0x2F, 0xF0, 0x2D, 0x2F, 0xFE, 0x2D, 0x2F, 0xF5, 0x15, 0x1F, 0xF0};

struct StreamFiles {
  std::optional<Bytes> tfc, ts1a, ts1b, ts2, tsh;
};

TagSpec SpectralTag() {
  TagSpec t;
  t.kind = 15;
  t.nchn = 2;
  t.lsmp = 6;
  t.scnt = 12;
  t.rate = 1024;
  t.wiscn = 64;
  t.levtp = 0;
  t.leval = 2;
  t.nfrqt = 4;
  t.nfrqd = 2;
  t.nfreq = 12;
  t.ltag = 60;
  return t;
}

// Spectral records: a filler scan first and last, coefficients between.
Bytes SpectralStream(TagSpec t, int records) {
  Bytes out;
  for (int r = 0; r < records; ++r) {
    t.windx = 1 + 8 * r;
    t.utc = testdata::AddSeconds(MakeStamp(2026, 3, 14, 10, 0, 0), r);
    std::vector<int32_t> samples;
    for (int s = 0; s < t.scnt; ++s)
      for (int c = 0; c < t.nchn; ++c)
        samples.push_back((s == 0 || s == t.scnt - 1) && c == 0 ? -8388608 : testdata::PatternSample(s, c));
    Append(out, testdata::EncodeRecord(t, samples));
  }
  return out;
}

StreamFiles TypicalStreams() {
  StreamFiles f;
  f.tfc = SpectralStream(SpectralTag(), 3);

  TagSpec ts1;
  ts1.nchn = 5;
  ts1.scnt = 8;
  ts1.rate = 8;
  f.ts1a = testdata::EncodeStream(ts1, 3);
  ts1.utc = testdata::AddSeconds(ts1.utc, 3);
  f.ts1b = testdata::EncodeStream(ts1, 2, testdata::PatternSample, 24);

  TagSpec ts2;
  ts2.nchn = 3;
  ts2.scnt = 20;
  ts2.rate = 10000;
  ts2.trailer_factor = 1;
  ts2.sbrec = 2;
  f.ts2 = testdata::EncodeStream(ts2, 3);

  Bytes tsh;
  for (int r = 0; r < 3; ++r) {
    for (uint16_t rate : {2000, 200, 20000}) {
      TagSpec t;
      t.nchn = 4;
      t.scnt = 4;
      t.rate = rate;
      t.utc = testdata::AddSeconds(MakeStamp(2026, 3, 14, 10, 0, 0), r);
      Append(tsh, testdata::EncodeStream(t, 1));
    }
  }
  f.tsh = tsh;
  return f;
}

Bytes RecordingInput(const StreamFiles& f, const Bytes& script) {
  return MultiFileInput({f.tfc, f.ts1a, f.ts1b, f.ts2, f.tsh}, script);
}

std::vector<Bytes> RecordingSeeds() {
  std::vector<Bytes> seeds;
  const StreamFiles typical = TypicalStreams();
  seeds.push_back(RecordingInput(typical, kScriptMixed));
  seeds.push_back(RecordingInput(typical, kScriptScans));
  seeds.push_back(RecordingInput(typical, kScriptSeeks));
  seeds.push_back(RecordingInput(typical, {}));

  // Older 16-byte tags; long tags with 4-byte samples.
  StreamFiles older = typical;
  TagSpec t16;
  t16.ltag = 0;
  t16.nchn = 2;
  t16.scnt = 5;
  older.ts1a = testdata::EncodeStream(t16, 2);
  t16.utc = testdata::AddSeconds(t16.utc, 2);
  older.ts1b = testdata::EncodeStream(t16, 2, testdata::PatternSample, 10);
  TagSpec t60;
  t60.ltag = 60;
  t60.lsmp = 4;
  t60.nchn = 2;
  t60.scnt = 10;
  t60.rate = 10000;
  older.ts2 = testdata::EncodeStream(t60, 2);
  seeds.push_back(RecordingInput(older, kScriptMixed));
  seeds.push_back(RecordingInput(typical, kScriptExtensions));
  seeds.push_back(RecordingInput(older, kScriptExtensions));

  // Missing and empty files; one-scan records; rates per minute with a gap.
  StreamFiles sparse;
  sparse.ts1a = Bytes{};
  TagSpec one;
  one.nchn = 1;
  one.scnt = 1;
  one.rate = 60;
  one.runt = 1;
  Bytes ts2 = testdata::EncodeStream(one, 2);
  one.utc = testdata::AddSeconds(one.utc, 10);
  Append(ts2, testdata::EncodeStream(one, 2));
  one.rate = 20000;
  one.runt = 0;
  sparse.ts2 = ts2;
  sparse.tsh = testdata::EncodeStream(one, 2);
  seeds.push_back(RecordingInput(sparse, kScriptMixed));
  seeds.push_back(RecordingInput(sparse, kScriptExtensions));

  // A spectral layout that passes only because NFRQD equals NFRQT.
  StreamFiles wide;
  TagSpec spectral = SpectralTag();
  spectral.levtp = 1;
  spectral.leval = 3;
  spectral.nfrqt = 5;
  spectral.nfrqd = 5;
  spectral.scnt = 17;
  wide.tfc = SpectralStream(spectral, 2);
  seeds.push_back(RecordingInput(wide, Bytes{0x0B, 0x10, 0x08, 0x00, 0x08, 0x09, 0x17}));
  return seeds;
}

// Calibration inputs: kind byte, recording byte, an extra frequency, the file.
Bytes CalibrationInput(uint8_t kind_byte, uint8_t recording, double frequency, const testdata::CalibrationFile& file,
                       const Bytes& settings = {0xFF, 0, 0, 0, 0, 0, 0, 0}) {
  Bytes out{kind_byte, recording};
  Append(out, settings);
  testdata::PutF64(out, frequency);
  Append(out, file.Encode());
  return out;
}

std::vector<Bytes> CalibrationSeeds() {
  std::vector<Bytes> seeds;
  // Box calibrations with a circuit model (more than three tables) and without.
  testdata::BoxSpec box;
  box.tables = 4;
  box.points = 5;
  seeds.push_back(CalibrationInput(0, 0, 12.5, testdata::BoxCalibration(box)));
  box.tables = 15;
  box.points = 3;
  box.hw = "RJ6";
  box.corner = [](int table, int channel) { return static_cast<float>(0.01 * (table + 1) + channel); };
  seeds.push_back(CalibrationInput(0, 2, 3000.0, testdata::BoxCalibration(box)));
  box.tables = 3;
  box.nchn = 3;
  box.key = [](int table) { return static_cast<int16_t>(table * 7 - 1); };
  seeds.push_back(CalibrationInput(0, 1, 0.5, testdata::BoxCalibration(box)));
  // Other decimation chains, mains, comb and coupling settings of the recording.
  box.nchn = 5;
  box.tables = 5;
  seeds.push_back(CalibrationInput(0, 0, 100.0, testdata::BoxCalibration(box), Bytes{3, 1, 1, 1, 1, 3, 0x24, 3}));
  seeds.push_back(CalibrationInput(0, 2, 1.0, testdata::BoxCalibration(box), Bytes{4, 0, 2, 0, 0, 1, 0x12, 1}));

  // A box measured on a known front end, so that the model builds and forms
  // responses: the circuit branch, then the table branch of an "OLM5" recording.
  const testdata::CalibrationFile circuit = testdata::CircuitCalibration(testdata::BoxCircuit{}, 5, 8);
  seeds.push_back(CalibrationInput(0, 0, 50.0, circuit));
  seeds.push_back(CalibrationInput(0, 0, 300.0, circuit, Bytes{5, 0, 0, 0, 0, 3, 16, 4}));

  // Sensor calibrations of both kinds, with the silent records ahead of the table.
  auto flat = [](int, int channel, double f) { return testdata::HighPass(f, 0.1 * (channel + 1)); };
  testdata::SensorSpec sensor;
  sensor.points = 10;
  seeds.push_back(CalibrationInput(1, 0, 7.0, testdata::SensorCalibration(sensor, flat)));
  sensor.ctyp = 3;
  sensor.nchn = 1;
  sensor.corner = 0.5f;
  sensor.ver = "4270A";
  seeds.push_back(CalibrationInput(2, 1, 1e4, testdata::SensorCalibration(sensor, flat)));
  return seeds;
}

}  // namespace

Bytes MultiFileInput(const std::vector<std::optional<Bytes>>& files, const Bytes& tail) {
  Bytes out;
  for (const auto& file : files)
    testdata::PutU16(out, file ? static_cast<uint16_t>(file->size() & 0x7FFF) : kAbsentFile);
  for (const auto& file : files)
    if (file) out.insert(out.end(), file->begin(), file->begin() + static_cast<std::ptrdiff_t>(file->size() & 0x7FFF));
  Append(out, tail);
  return out;
}

std::vector<SeedSet> AllSeeds() {
  std::vector<SeedSet> sets;
  sets.push_back({"table", TableSeeds()});
  sets.push_back({"recording", RecordingSeeds()});
  sets.push_back({"calibration", CalibrationSeeds()});
  return sets;
}

}  // namespace olmtsfil::fuzz

#include "writer/sample_recording.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <stdexcept>

#include "writer/box_circuit.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace olmtsfil::testdata {
namespace {

constexpr double kPi = std::numbers::pi;

// Site and instrument settings written into the table.
constexpr const char* kStemPrefix = "site1_";
constexpr double kFullScaleVolts = 6.4;
constexpr int kElectricGain = 10;
constexpr int kMagneticGain = 2;
constexpr double kMagneticAttenuation = 0.2;
constexpr double kDipoleLengthMetres = 100.0;
constexpr uint16_t kBoxSerial = 101;      // "SNUM" of the records and of the box calibration
constexpr double kCoilNominal = 0.8;      // coil output, V per nT, the coils' calibration value
constexpr double kNoiseRms = 2e-5;        // about 170 counts
constexpr double kTargetFraction = 0.02;  // tone amplitudes are chosen near this fraction of full scale

// The reference: the recording starts at 23:50:00 on 14 March and runs past midnight.
TimeStamp Reference() { return MakeStamp(2026, 3, 14, 23, 50, 0); }

std::string Stem(int day, char sequence) { return DatedStem(kStemPrefix, 3, day, sequence); }

TableFile SampleTable() {
  TableFile t;
  // Identification first, as the recorder writes it. This hardware identifier
  // makes the box response come from the front-end circuit model.
  t.Text("SITE", "Sample site 1").Text("HW", "OLM5A").Text("VER", "4270A2");
  t.Add(Parameter::Text("NOTE", "tones+noise", 4));
  t.Add(Parameter::Stamp("STIM", Reference()));
  t.Double("LAT", 46.5102).Double("LON", 7.4415).Double("ELEV", 1520.0);
  // Channel map: Ex, Ey on 1-2, Hx, Hy, Hz on 3-5, no Ez.
  t.Int("CHEX", 1).Int("CHEY", 2).Int("CHEZ", 0).Int("CHHX", 3).Int("CHHY", 4).Int("CHHZ", 5);
  // Gains, full scale and the front-end settings of the box response.
  t.Int("EGN", kElectricGain).Int("HGN", kMagneticGain).Double("FSCV", kFullScaleVolts);
  t.Double("HATT", kMagneticAttenuation);
  t.Int("EGNC", 1).Int("HGNC", 0).Int("ACDC", 1).Int("ACDH", 1).Int("LPFR", 0);
  t.Int("EXR", 2000).Int("EYR", 2000).Int("EZR", 0);
  // Sensors: dipole lengths in metres, coil nominal value.
  t.Double("EXLN", kDipoleLengthMetres).Double("EYLN", kDipoleLengthMetres).Double("EZLN", 0.0);
  t.Double("HNOM", kCoilNominal).Double("CNOM", 0.0);
  t.Text("HSNX", "COIL201").Text("HSNY", "COIL202").Text("HSNZ", "COIL203");
  // Decimation chain, mains filter and the rate of every stream.
  t.Int("TALS", 5).Int("LFRQ", 50).Int("TCMB", 0).Int("K8SR", 0);
  t.Int("SRL0", 150).Int("SRL1", 24000).Int("SRL2", 2400).Int("SRL3", 150).Int("SRL4", 15).Int("SRL5", 1);
  t.Add(Parameter::None("RSVD"));
  return t;
}

// The box calibration: what a measurement of a known front-end circuit gives,
// 15 tables from 10 mHz to 20 kHz, with coupling corners of 5 and 50 mHz.
void WriteBoxCalibration(const std::string& base) {
  BoxCircuit circuit;
  circuit.coupling_corner_1 = 0.005f;
  circuit.coupling_corner_2 = 0.05f;
  CalibrationFile file = CircuitCalibration(circuit, kSampleComponents, 41, 0.01, 20000.0, "OLM5");
  file.header.snum = kBoxSerial;
  file.header.ver = "4270A2";
  file.header.hatt = kMagneticAttenuation;
  file.Write(base);
}

// An induction coil: output proportional to frequency below its corner, flat
// above it up to a resonance-damping low-pass; each coil a little different.
Complex CoilResponse(int coil, double f) {
  const double corner = 4.0 + 0.2 * coil;
  const Complex shape = Product(HighPass(f, corner), LowPass(f, 8000.0 - 500.0 * coil));
  return {kCoilNominal * shape.re, kCoilNominal * shape.im};
}

void WriteCoilCalibration(const std::string& base, int coil) {
  SensorSpec desc;
  desc.nchn = 1;
  desc.ctyp = 2;
  desc.points = 50;
  desc.f_low = 0.0001;
  desc.f_high = 10000.0;
  desc.hnom = kCoilNominal;
  desc.ver = "C2";
  CalibrationFile file = SensorCalibration(desc, [coil](int, int, double f) { return CoilResponse(coil, f); });
  file.header.hw = "COIL";
  file.header.hsn = "COIL20" + std::to_string(coil + 1);
  file.header.snum = static_cast<uint16_t>(201 + coil);
  file.Write(base);
}

std::vector<SampleTone> ToneTemplate() {
  // Low and middle tones per component; one high tone that only the burst stream
  // resolves. Amplitudes are filled in from the response.
  return {
      {0, 0.5, 0, 30}, {0, 8, 0, -45},  {1, 1, 0, 60},   {1, 12, 0, 120},  {2, 0.5, 0, -30},
      {2, 4, 0, 90},   {3, 1, 0, 150},  {3, 6, 0, -120}, {4, 2, 0, 10},    {4, 10, 0, -60},
      {0, 250, 0, 0},  {1, 250, 0, 45}, {2, 250, 0, 90}, {3, 250, 0, 135}, {4, 250, 0, 180},
  };
}

// Largest value 1, 2 or 5 times a power of ten not above x: tone amplitudes a
// reader can remember.
double NiceBelow(double x) {
  const double decade = std::pow(10.0, std::floor(std::log10(x)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * decade <= x) return m * decade;
  return decade;
}

// Stateless white noise: the same value for a stream, scan and channel whatever
// order the files are written in.
uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}
double Noise(int stream, int64_t scan, int channel) {
  const uint64_t key =
      (static_cast<uint64_t>(stream) << 56) ^ (static_cast<uint64_t>(channel) << 48) ^ static_cast<uint64_t>(scan);
  const uint64_t a = SplitMix(key), b = SplitMix(key ^ 0xA5A5A5A5A5A5A5A5ull);
  const double u1 = (static_cast<double>(a >> 11) + 1.0) / 9007199254740993.0;  // (0, 1]
  const double u2 = static_cast<double>(b >> 11) / 9007199254740992.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * kPi * u2);
}

int32_t ToCounts(double fraction) {
  double v = std::nearbyint(fraction * 8388608.0);
  if (v > 8388607.0) v = 8388607.0;
  if (v < -8388607.0) v = -8388607.0;  // -8388608 marks filler scans in spectral files
  return static_cast<int32_t>(v);
}

// Per stream and tone: the recorded amplitude (fraction of full scale) and phase.
struct RecordedTone {
  int channel;
  double frequency_hz;
  double amplitude;
  double phase_rad;
};

std::vector<RecordedTone> RecordedTones(const SampleRecording& sample, int stream) {
  std::vector<RecordedTone> out;
  for (const SampleTone& tone : sample.TonesOf(stream)) {
    const std::complex<double> r = SampleChainResponse(sample, stream, tone.component, tone.frequency_hz);
    out.push_back(
        {tone.component, tone.frequency_hz, tone.amplitude * std::abs(r), tone.phase_deg * kPi / 180.0 + std::arg(r)});
  }
  return out;
}

// Where a stream's records go: `files` gives each file of its set with its
// record count; each burst is a run of consecutive records starting at its own
// time.
struct StreamLayout {
  int stream;
  double rate_hz;
  int scans_per_record;
  std::vector<std::pair<std::string, int>> files;  // stem, records
  std::vector<int64_t> burst_offsets_s;            // start of each burst after the reference
  int records_per_burst;                           // 0: one continuous run
};

SampleStream WriteStream(const SampleRecording& sample, const StreamLayout& layout) {
  const std::vector<RecordedTone> tones = RecordedTones(sample, layout.stream);
  const int64_t reference = StampToUnix(sample.reference);
  SampleStream out;
  out.stream = layout.stream;
  out.rate_hz = layout.rate_hz;
  out.scans_per_record = layout.scans_per_record;
  out.bursts = static_cast<int>(layout.burst_offsets_s.size());
  out.first_record = AddSeconds(sample.reference, layout.burst_offsets_s.front());

  TagSpec tag;
  tag.nchn = kSampleComponents;
  tag.scnt = static_cast<uint16_t>(layout.scans_per_record);
  tag.rate = static_cast<uint16_t>(layout.rate_hz);
  tag.snum = kBoxSerial;  // the box of the box calibration recorded it
  tag.lsmp = 3;
  const std::string extension = ".TS" + std::to_string(layout.stream);
  const double record_seconds = layout.scans_per_record / layout.rate_hz;

  std::size_t burst = 0;
  int64_t record_in_burst = 0;
  for (const auto& [stem, records] : layout.files) {
    Bytes bytes;
    for (int r = 0; r < records; ++r) {
      if (layout.records_per_burst > 0 && record_in_burst == layout.records_per_burst) {
        ++burst;
        record_in_burst = 0;
      }
      const double start_s =
          static_cast<double>(layout.burst_offsets_s.at(burst)) + static_cast<double>(record_in_burst) * record_seconds;
      tag.utc = AddSeconds(sample.reference, static_cast<int64_t>(std::floor(start_s + 0.5)));
      const int64_t first_scan = static_cast<int64_t>(
          std::llround((static_cast<double>(StampToUnix(tag.utc)) - static_cast<double>(reference)) * layout.rate_hz));
      std::vector<int32_t> samples;
      samples.reserve(static_cast<std::size_t>(layout.scans_per_record) * kSampleComponents);
      for (int s = 0; s < layout.scans_per_record; ++s) {
        const int64_t scan = first_scan + s;
        const double t = static_cast<double>(scan) / layout.rate_hz;  // seconds after the reference
        double values[kSampleComponents] = {};
        for (const RecordedTone& tone : tones) {
          // Reduce the cycle count first so the phase stays exact over long runs.
          const double cycles = std::fmod(tone.frequency_hz * t, 1.0);
          values[tone.channel] += tone.amplitude * std::cos(2 * kPi * cycles + tone.phase_rad);
        }
        for (int c = 0; c < kSampleComponents; ++c)
          samples.push_back(ToCounts(values[c] + sample.noise_rms * Noise(layout.stream, scan, c)));
      }
      Append(bytes, EncodeRecord(tag, samples));
      ++record_in_burst;
      ++out.records;
    }
    const std::string path = sample.directory + "/" + stem + extension;
    WriteFile(path, bytes);
    out.files.push_back(path);
  }
  return out;
}

// Spectral records: one cycle of coefficients per record (levels 0 ... 2 with
// four, two and two frequencies, then two of the carry level), windows of 75
// scans at 150 Hz. The coefficients are the tones' windowed spectra.
int WriteSpectral(const SampleRecording& sample) {
  constexpr int kLevelTop = 0, kLevelAll = 2, kFreqTop = 4, kFreqPerLevel = 2, kWindowScans = 75;
  constexpr int kCycle = (kLevelAll - kLevelTop + 1) * kFreqPerLevel + kFreqTop;
  constexpr int kStep = 1 << (kLevelAll + 1);
  constexpr int kRecords = 30;
  const double rate = 150.0;
  const std::vector<RecordedTone> tones = RecordedTones(sample, 3);

  TagSpec tag;
  tag.kind = 15;
  tag.ltag = 60;  // the spectral fields lie past the 32 bytes of a time-series tag
  tag.nchn = kSampleComponents;
  tag.scnt = kCycle;
  tag.lsmp = 6;  // real and imaginary part, three bytes each
  tag.rate = static_cast<uint16_t>(rate);
  tag.wiscn = kWindowScans;
  tag.levtp = kLevelTop;
  tag.leval = kLevelAll;
  tag.nfrqt = kFreqTop;
  tag.nfrqd = kFreqPerLevel;
  tag.nfreq = kCycle;
  Bytes bytes;
  for (int r = 0; r < kRecords; ++r) {
    tag.windx = r * kStep + (1 << kLevelTop);
    // A cycle spans kStep windows of kWindowScans scans: 4 s at 150 Hz.
    tag.utc = AddSeconds(sample.reference, static_cast<int64_t>(r) * kStep * kWindowScans / 150);
    Bytes record = EncodeTag(tag);
    for (int pos = 0; pos < kCycle; ++pos) {
      // Level and frequency of this position, as the recorder lays them out.
      int level, index;
      if (pos < kCycle - kFreqPerLevel) {
        level = std::max(0, (pos - kFreqTop + kFreqPerLevel) / kFreqPerLevel + kLevelTop);
        index = pos;
      } else {
        const int w = r * kStep + kStep;
        level = std::countr_zero(static_cast<unsigned>(w) | (1u << 24));
        index = pos + (level - kLevelAll - 1) * kFreqPerLevel;
      }
      const int j = kFreqPerLevel + (level - kLevelTop) * kFreqPerLevel + kFreqTop - index;
      const double frequency = (2.0 * j - 1) * 0.5 * rate / (std::ldexp(1.0, level) * kWindowScans);
      const double window_seconds = std::ldexp(1.0, level) * kWindowScans / rate;
      for (int c = 0; c < kSampleComponents; ++c) {
        std::complex<double> v{};
        for (const RecordedTone& tone : tones) {
          if (tone.channel != c) continue;
          const double x = (frequency - tone.frequency_hz) * window_seconds;
          const double leak = std::abs(x) < 1e-12 ? 1.0 : std::sin(kPi * x) / (kPi * x);
          v += 0.5 * tone.amplitude * leak * std::polar(1.0, tone.phase_rad);
        }
        v += sample.noise_rms * std::complex<double>(Noise(0, r * kCycle + pos, c), Noise(0, r * kCycle + pos, c + 8));
        PutSample(record, ToCounts(v.real()), 3);
        PutSample(record, ToCounts(v.imag()), 3);
      }
    }
    Append(bytes, record);
  }
  WriteFile(sample.directory + "/" + Stem(14, 'a') + ".TFC", bytes);
  return kRecords;
}

}  // namespace

const char* SampleComponentName(int component) {
  static const char* const kNames[] = {"Ex", "Ey", "Hx", "Hy", "Hz"};
  return component >= 0 && component < kSampleComponents ? kNames[component] : "?";
}

const char* SampleComponentUnit(int component) {
  return component < 0 || component >= kSampleComponents ? "" : SampleComponentIsMagnetic(component) ? "nT" : "mV/km";
}

std::vector<SampleTone> SampleRecording::TonesOf(int stream) const {
  const SampleStream* s = Stream(stream);
  // The spectral stream shares the medium stream's rate.
  const double rate = stream == 0 ? 150.0 : s == nullptr ? 0.0 : s->rate_hz;
  std::vector<SampleTone> out;
  for (const SampleTone& tone : tones)
    if (tone.frequency_hz < 0.3 * rate) out.push_back(tone);
  return out;
}

const SampleStream* SampleRecording::Stream(int stream) const {
  for (const SampleStream& s : streams)
    if (s.stream == stream) return &s;
  return nullptr;
}

std::complex<double> SampleChainResponse(const SampleRecording& sample, int stream, int component,
                                         double frequency_hz) {
  // Everything through the C interface, on the files as written.
  struct Handles {
    TsHandle* recording = nullptr;
    CalHandle* box = nullptr;
    CalHandle* coil = nullptr;
    ~Handles() {
      TSCloseHT(&recording);
      CalCloseHT(&box);
      CalCloseHT(&coil);
    }
  } h;
  const auto fail = [&](const std::string& what, int32_t status) {
    throw std::runtime_error("sample response of " + std::string(SampleComponentName(component)) + " at " +
                             std::to_string(frequency_hz) + " Hz on stream " + std::to_string(stream) + ": " + what +
                             " " + std::to_string(status) + " (" + olmts_status_text(status) + ")");
  };
  h.recording = TSOpenHT(sample.base.c_str());
  h.box = CalOpenHT(1, sample.box_calibration.c_str());
  if (h.recording == nullptr || h.box == nullptr) fail("cannot open the recording or box calibration", 0);
  double full_scale = 0;
  if (int32_t st = ReadPrmHT(h.recording, "FSCV", OLMTS_TYPE_DOUBLE, &full_scale); st != OLMTS_OK) fail("FSCV", st);
  Complex box[12];
  double box_aux[12];
  if (int32_t st = CalcBoxRespHT(h.box, h.recording, stream, frequency_hz, box, box_aux); st != OLMTS_OK)
    fail("box response", st);
  std::complex<double> sensor;
  if (SampleComponentIsMagnetic(component)) {
    const std::string& coil = sample.sensor_calibrations.at(static_cast<std::size_t>(component - 2));
    h.coil = CalOpenHT(2, coil.c_str());
    if (h.coil == nullptr) fail("cannot open " + coil, 0);
    Complex s[1];
    double aux[1];
    if (int32_t st = CalcSensorRespHT(h.coil, h.recording, frequency_hz, s, aux); st != OLMTS_OK)
      fail("sensor response", st);
    sensor = {s[0].re, s[0].im};  // volts per nT
  } else {
    double lengths[12];
    if (int32_t st = CalcSensorNomGainHT(h.recording, lengths); st != OLMTS_OK) fail("dipole length", st);
    sensor = lengths[component] * 1e-6;  // volts per mV/km over a dipole of that many metres
  }
  const std::complex<double> b{box[component].re, box[component].im};
  return sensor * b / full_scale;
}

SampleRecording WriteSampleRecording(const std::string& directory) {
  std::filesystem::create_directories(directory);
  SampleRecording sample;
  sample.directory = directory;
  sample.base = directory + "/" + Stem(14, 'a');
  sample.reference = Reference();
  sample.noise_rms = kNoiseRms;
  sample.analysis_stream = 3;
  sample.analysis_start = MakeStamp(2026, 3, 14, 23, 59, 50);
  sample.analysis_scans = 3000;

  SampleTable().Write(sample.base + ".TBL");
  sample.box_calibration = directory + "/box101";
  WriteBoxCalibration(sample.box_calibration);
  for (int coil = 0; coil < 3; ++coil) {
    sample.sensor_calibrations.push_back(directory + "/coil20" + std::to_string(coil + 1));
    WriteCoilCalibration(sample.sensor_calibrations.back(), coil);
  }

  // Stream rates decide which tones a stream carries, so they are known before
  // the amplitudes are chosen.
  sample.streams = {{2, 2400.0, 2400, {}, {}, 0, 3}, {3, 150.0, 150, {}, {}, 0, 1}, {4, 15.0, 15, {}, {}, 0, 1}};
  sample.tones = ToneTemplate();
  for (SampleTone& tone : sample.tones) {
    // Amplitude from the stream that resolves the tone best: the medium stream
    // for the low and middle tones, the bursts for the high one.
    const int stream = tone.frequency_hz < 45 ? 3 : 2;
    const double per_unit = std::abs(SampleChainResponse(sample, stream, tone.component, tone.frequency_hz));
    tone.amplitude = NiceBelow(kTargetFraction / per_unit);
  }

  // Medium rate: 150 Hz for 15 minutes over three files, two of them before midnight.
  const StreamLayout medium{3, 150.0, 150, {{Stem(14, 'a'), 300}, {Stem(14, 'b'), 300}, {Stem(15, 'a'), 300}}, {0}, 0};
  // Low rate: 15 Hz for 20 minutes over two files, one per day.
  const StreamLayout low{4, 15.0, 15, {{Stem(14, 'a'), 600}, {Stem(15, 'a'), 600}}, {0}, 0};
  // High rate: three bursts of 4 s, two minutes apart.
  const StreamLayout high{2, 2400.0, 2400, {{Stem(14, 'a'), 12}}, {0, 120, 240}, 4};
  std::vector<SampleStream> written;
  for (const StreamLayout* layout : {&high, &medium, &low}) written.push_back(WriteStream(sample, *layout));
  sample.streams = written;
  sample.spectral_records = WriteSpectral(sample);
  return sample;
}

}  // namespace olmtsfil::testdata

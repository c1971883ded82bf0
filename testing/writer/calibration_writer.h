// Calibration files: box (".CLB", kind 1) and sensor (".CLC", kinds 2 and 3),
// with every header field and record field settable, and generators that
// tabulate known analog shapes so tests can compare a model with its source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "writer/bytes_io.h"

namespace olmtsfil::testdata {

// Every field of the 132-byte header.
struct CalHeader {
  TimeStamp utc{0, 0, 9, 20, 1, 26, 0, 20};  // 2026-01-20 09:00:00, stored as is
  uint16_t snum = 4711;
  int16_t nchn = 5;
  uint16_t bytes12 = 0;  // not interpreted
  uint16_t stat = 0;
  uint8_t ctyp = 1;  // 1 box, 2 or 3 sensor
  std::string hw = "OLM5";
  std::string ver = "4270C2";
  int32_t tcmb = 0;
  int32_t tals = 5;
  int32_t lfrq = 50;
  int32_t k8sr = 0;
  int32_t lpfr = 0;
  std::string hsn;  // sensor serial text
  double hatt = 1.0;
  double hnom = 0.0;
  double cphc = 0.0;
};

// One 24-byte channel block.
struct CalBlock {
  Complex lead_pair{1.0, 0.0};  // stored as two floats
  float scalar = 1.0f;
  float corner_frequency = 0.0f;
  Complex response{1.0, 0.0};  // stored as two floats
};

struct CalRecord {
  int16_t key = 0;
  float frequency = 0.0f;
  int16_t sequence = 2;  // 1 or less starts a table
  // Exactly header.nchn blocks are written: missing ones as zero bytes, extra
  // ones dropped.
  std::vector<CalBlock> blocks;
};

class CalibrationFile {
 public:
  CalHeader header;
  std::vector<CalRecord> records;

  Bytes Encode() const;
  // Writes base + ".CLB" (ctyp 1) or base + ".CLC" (otherwise); returns the path.
  std::string Write(const std::string& base) const;

  static std::size_t RecordSize(int nchn) {
    return layout::cal_record::kFirstBlock + layout::cal_record::kBlockSize * static_cast<std::size_t>(nchn);
  }
  static constexpr std::size_t kHeaderSize = layout::cal_header::kSize;
  // Byte offset of record i in the encoded file.
  std::size_t RecordOffset(std::size_t i) const { return kHeaderSize + i * RecordSize(header.nchn); }
};

// A complex response of table `table`, channel `channel` (0-based) at `f` Hz.
using AnalogResponse = std::function<Complex(int table, int channel, double f)>;

// First-order shapes, j f/(fc + j f) and 1/(1 + j f/fc), and their product.
Complex HighPass(double f, double fc);
Complex LowPass(double f, double fc);
Complex Product(Complex a, Complex b);

// Frequencies spaced evenly on a log scale from f_low to f_high (both included).
std::vector<double> LogFrequencies(double f_low, double f_high, int points);

// A plausible analog box response: a band-pass of a first-order high-pass and a
// first-order low-pass whose corners and gain differ per table and channel, so
// that divisions between tables are not trivial.
Complex TypicalBoxResponse(int table, int channel, double f);

struct BoxSpec {
  int nchn = 5;
  int tables = 15;
  int points = 20;  // records per table, at most 100
  double f_low = 0.01;
  double f_high = 20000.0;
  std::string hw = "OLM5";
  // Key of table t; by default t itself.
  std::function<int16_t(int table)> key;
  // Coupling corner (Hz) written into every block of table t, channel c.
  std::function<float(int table, int channel)> corner;
};

// A box calibration whose table t holds `response`(t, c, f) at the log-spaced
// frequencies; record sequences run 1, 2, ... within each table, scalar is |response|.
CalibrationFile BoxCalibration(const BoxSpec& desc, const AnalogResponse& response = TypicalBoxResponse);

struct SensorSpec {
  int nchn = 3;
  uint8_t ctyp = 2;
  int silent_records = 2;  // leading records with frequency 0 and no lead signal
  int points = 30;
  double f_low = 0.001;
  double f_high = 10000.0;
  double hnom = 0.8;
  double cphc = 0.0;
  std::string ver = "C08";
  float corner = 0.0f;  // corner_frequency of every block
};

// A sensor calibration: `silent_records` records of frequency 0, then one table
// starting with a start record (sequence 1, lead_pair magnitude 1) holding
// `response`(0, c, f) and scalar |response| at the log-spaced frequencies.
CalibrationFile SensorCalibration(const SensorSpec& desc, const AnalogResponse& response);

}  // namespace olmtsfil::testdata

#include "writer/calibration_writer.h"

#include <cmath>
#include <cstring>

namespace olmtsfil::testdata {

Bytes CalibrationFile::Encode() const {
  namespace hf = olmtsfil::layout::cal_header;
  namespace rf = olmtsfil::layout::cal_record;
  namespace bf = olmtsfil::layout::cal_block;
  const CalHeader& h = header;
  Bytes out(kHeaderSize, 0);
  std::memcpy(out.data() + hf::kUtc.offset, &h.utc, hf::kUtc.width);
  PutField(out, 0, hf::kSnum, h.snum);
  PutField(out, 0, hf::kNchn, static_cast<uint16_t>(h.nchn));
  PutField(out, 0, hf::kBytes12, h.bytes12);
  PutField(out, 0, hf::kStat, h.stat);
  PutField(out, 0, hf::kCtyp, h.ctyp);
  PutTextField(out, 0, hf::kHw, h.hw);
  PutTextField(out, 0, hf::kVer, h.ver);
  PutField(out, 0, hf::kTcmb, static_cast<uint32_t>(h.tcmb));
  PutField(out, 0, hf::kTals, static_cast<uint32_t>(h.tals));
  PutField(out, 0, hf::kLfrq, static_cast<uint32_t>(h.lfrq));
  PutField(out, 0, hf::kK8sr, static_cast<uint32_t>(h.k8sr));
  PutField(out, 0, hf::kLpfr, static_cast<uint32_t>(h.lpfr));
  PutTextField(out, 0, hf::kHsn, h.hsn);
  PutRealField(out, 0, hf::kHatt, h.hatt);
  PutRealField(out, 0, hf::kHnom, h.hnom);
  PutRealField(out, 0, hf::kCphc, h.cphc);

  const int nchn = h.nchn > 0 ? h.nchn : 0;
  for (const CalRecord& r : records) {
    const std::size_t at = out.size();
    out.resize(at + RecordSize(nchn), 0);  // a missing block stays zero bytes
    PutField(out, at, rf::kKey, static_cast<uint16_t>(r.key));
    PutRealField(out, at, rf::kFrequency, r.frequency);
    PutField(out, at, rf::kSequence, static_cast<uint16_t>(r.sequence));
    for (int c = 0; c < nchn && static_cast<std::size_t>(c) < r.blocks.size(); ++c) {
      const CalBlock& b = r.blocks[static_cast<std::size_t>(c)];
      const std::size_t block = at + rf::kFirstBlock + static_cast<std::size_t>(c) * rf::kBlockSize;
      PutRealField(out, block, bf::kLeadPairRe, b.lead_pair.re);
      PutRealField(out, block, bf::kLeadPairIm, b.lead_pair.im);
      PutRealField(out, block, bf::kScalar, b.scalar);
      PutRealField(out, block, bf::kCornerFrequency, b.corner_frequency);
      PutRealField(out, block, bf::kResponseRe, b.response.re);
      PutRealField(out, block, bf::kResponseIm, b.response.im);
    }
  }
  return out;
}

std::string CalibrationFile::Write(const std::string& base) const {
  std::string path = base + (header.ctyp == 1 ? ".CLB" : ".CLC");
  WriteFile(path, Encode());
  return path;
}

Complex HighPass(double f, double fc) {
  // j f / (fc + j f) = (f^2 + j f fc) / (fc^2 + f^2)
  const double d = fc * fc + f * f;
  if (d == 0.0) return {1.0, 0.0};
  return {f * f / d, f * fc / d};
}

Complex LowPass(double f, double fc) {
  // 1 / (1 + j x) = (1 - j x) / (1 + x^2), x = f / fc
  const double x = f / fc;
  return {1.0 / (1.0 + x * x), -x / (1.0 + x * x)};
}

Complex Product(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

std::vector<double> LogFrequencies(double f_low, double f_high, int points) {
  std::vector<double> f;
  if (points <= 0) return f;
  if (points == 1) return {f_low};
  const double step = std::log(f_high / f_low) / (points - 1);
  for (int i = 0; i < points; ++i) f.push_back(f_low * std::exp(step * i));
  f.back() = f_high;
  return f;
}

Complex TypicalBoxResponse(int table, int channel, double f) {
  const double gain = 1.0 + 0.25 * (table % 5) + 0.05 * channel;
  const double high_corner = 0.002 * (1 + table % 3) * (1 + channel);
  const double low_corner = 500.0 * (1 + table % 4) + 40.0 * channel;
  Complex r = Product(HighPass(f, high_corner), LowPass(f, low_corner));
  return {gain * r.re, gain * r.im};
}

CalibrationFile BoxCalibration(const BoxSpec& desc, const AnalogResponse& response) {
  CalibrationFile file;
  file.header.nchn = static_cast<int16_t>(desc.nchn);
  file.header.ctyp = 1;
  file.header.hw = desc.hw;
  const std::vector<double> frequencies = LogFrequencies(desc.f_low, desc.f_high, desc.points);
  for (int t = 0; t < desc.tables; ++t) {
    int16_t sequence = 1;
    for (double f : frequencies) {
      CalRecord r;
      r.key = desc.key ? desc.key(t) : static_cast<int16_t>(t);
      r.frequency = static_cast<float>(f);
      r.sequence = sequence++;
      for (int c = 0; c < desc.nchn; ++c) {
        CalBlock b;
        // What the record stores is single precision; keep the block's values
        // exactly what a reader gets back.
        Complex v = response(t, c, static_cast<double>(r.frequency));
        b.response = {static_cast<float>(v.re), static_cast<float>(v.im)};
        b.scalar = static_cast<float>(std::sqrt(v.re * v.re + v.im * v.im));
        b.corner_frequency = desc.corner ? desc.corner(t, c) : 0.0f;
        r.blocks.push_back(b);
      }
      file.records.push_back(std::move(r));
    }
  }
  return file;
}

CalibrationFile SensorCalibration(const SensorSpec& desc, const AnalogResponse& response) {
  CalibrationFile file;
  file.header.nchn = static_cast<int16_t>(desc.nchn);
  file.header.ctyp = desc.ctyp;
  file.header.hw = "COIL";
  file.header.ver = desc.ver;
  file.header.hsn = "S-0815";
  file.header.hnom = desc.hnom;
  file.header.cphc = desc.cphc;
  for (int s = 0; s < desc.silent_records; ++s) {
    CalRecord r;
    r.sequence = 1;
    r.blocks.assign(static_cast<std::size_t>(desc.nchn), CalBlock{{0.0, 0.0}, 0.0f, 0.0f, {0.0, 0.0}});
    file.records.push_back(std::move(r));
  }
  int16_t sequence = 1;
  for (double f : LogFrequencies(desc.f_low, desc.f_high, desc.points)) {
    CalRecord r;
    r.frequency = static_cast<float>(f);
    r.sequence = sequence++;
    for (int c = 0; c < desc.nchn; ++c) {
      CalBlock b;
      Complex v = response(0, c, static_cast<double>(r.frequency));
      b.lead_pair = {1.0, 0.0};
      b.response = {static_cast<float>(v.re), static_cast<float>(v.im)};
      b.scalar = static_cast<float>(std::sqrt(v.re * v.re + v.im * v.im));
      b.corner_frequency = desc.corner;
      r.blocks.push_back(b);
    }
    file.records.push_back(std::move(r));
  }
  return file;
}

}  // namespace olmtsfil::testdata

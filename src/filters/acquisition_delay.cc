#include "filters/acquisition_delay.h"

#include "table/derived_parameters.h"

namespace olmtsfil {
namespace {

// The delays were calibrated with divisions by the stage rates done as
// multiplications by these reciprocals; dividing instead changes the last bits.
constexpr double kInv24000 = 1.0 / 24000.0;
constexpr double kInv48000 = 1.0 / 48000.0;
constexpr double kInv96000 = 1.0 / 96000.0;
constexpr double kInv4800 = 1.0 / 4800.0;
constexpr double kInv2400 = 1.0 / 2400.0;
constexpr double kInv300 = 1.0 / 300.0;
constexpr double kInv150 = 1.0 / 150.0;

// The fixed 2400 Hz FIR stage (25 samples) after its 4800 Hz sinc stage of
// `sinc_delay` samples, both converted to output samples at fs.
double Stage2400(double fs, double sinc_delay) { return fs * 25.0 * kInv2400 - fs * sinc_delay * kInv4800; }
// The same pair one octave lower: the 150 Hz FIR stage after its 300 Hz sinc.
double Stage150(double fs, double sinc_delay) { return fs * 25.0 * kInv150 - fs * sinc_delay * kInv300; }

// Chains 4 to 7 (sinc of 2.5 samples) and 11, 12 (sinc of 5.5 samples): a
// 24 kHz front stage of 38.7 samples, then either a sinc straight to fs
// (`direct_sinc`: chains 7 and 12) or a sinc to 2 fs plus a FIR of 25 samples,
// then the 2400 Hz and 150 Hz stages for rates below them.
double TaperedChainDelay(double fs, double sinc_delay, bool direct_sinc) {
  double d = 38.7;
  if (fs < 24000.0) {
    d = fs * kInv24000 * 38.7;
    if (direct_sinc) {
      if (0.0 < fs) d = d + sinc_delay * fs * (1.0 / fs - kInv24000);
    } else {
      double e = 0.0;
      if (0.0 < fs && 2.0 * fs <= 24000.0) e = sinc_delay * fs * (1.0 / (2.0 * fs) - kInv24000);
      d = d + e + 25.0;
    }
  }
  if (fs < 2400.0 && 0.0 < fs) d = d + Stage2400(fs, sinc_delay);
  if (fs < 150.0 && 0.0 < fs) d = d + Stage150(fs, sinc_delay);
  return d;
}

}  // namespace

Status AcqDelaySamples(double fs, int16_t stream, int32_t chain_type, int32_t /*k8sr*/, int32_t /*lfrq*/,
                       double* delay) {
  // Chains 2 and 8 enter the 2400 Hz stage at 2400 Hz itself, the tapered chains
  // only below it; stream 3 of chain 2 and 8 bypasses that stage.
  const bool has_2400_stage = stream != 3 && 0.0 < fs && fs <= 2400.0;
  double d = 0.0;
  switch (chain_type) {
    case 1:
      d = 2.5;
      break;
    case 2:
      d = 26.25;
      if (has_2400_stage) d = d + Stage2400(fs, 2.5);
      break;
    case 3:
      d = 26.25;
      break;
    case 4:
    case 5:
    case 6:
    case 7:
      d = TaperedChainDelay(fs, 2.5, chain_type == 7);
      break;
    case 8:
      d = 2.5;
      if (has_2400_stage) d = d + Stage2400(fs, 2.5);
      break;
    case 10:
      d = 5.5;
      break;
    case 11:
    case 12:
      d = TaperedChainDelay(fs, 5.5, chain_type == 12);
      break;
    case 13:
    case 14:
    case 15: {
      // A 37.2-sample front stage at r, then a sinc of 5.5 samples down to fs.
      const double r = chain_type == 13 ? 24000.0 : chain_type == 14 ? 48000.0 : 96000.0;
      const double inv_r = chain_type == 13 ? kInv24000 : chain_type == 14 ? kInv48000 : kInv96000;
      d = fs * inv_r * 37.2;
      if (0.0 < fs && fs <= r) d = d + 5.5 * fs * (1.0 / fs - inv_r);
      break;
    }
    case 17:
      d = 0.0;
      break;
    default:  // 9, 16 and unknown chains have no model
      return Status::kDecimationUnsupported;
  }
  *delay = d;
  return Status::kOk;
}

Status AcquisitionDelay(const ParameterTable& table, int32_t stream, double* delay) {
  double fs = 0.0;
  if (Status s = SampleRateHz(table, stream, &fs); s != Status::kOk) return s;
  int32_t chain_type = 0;
  if (Status s = table.ReadInt("TALS", &chain_type); s != Status::kOk) return s;
  int32_t lfrq = 0;
  if (Status s = table.ReadInt("LFRQ", &lfrq); s != Status::kOk) return s;
  int32_t k8sr = 0;  // older recorders have no "K8SR"
  if (Status s = table.ReadInt("K8SR", &k8sr); s != Status::kOk && s != Status::kNoSuchName) return s;
  return AcqDelaySamples(fs, static_cast<int16_t>(stream), chain_type, k8sr, lfrq, delay);
}

}  // namespace olmtsfil

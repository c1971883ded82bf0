#include "filters/acquisition_delay.h"

#include "filters/decimation_chain.h"
#include "table/derived_parameters.h"

namespace olmtsfil {
namespace {

// d samples of a stage at rate R count as d * fs / R output samples. The delays
// were calibrated with that division done as a multiplication by the reciprocal;
// dividing instead changes the last bits.

// A low-rate FIR stage at `rate` after its sinc stage of `sinc_delay` samples at
// twice that rate.
double LowRateStageDelay(double fs, double rate, double sinc_delay) {
  const double inv_rate = 1.0 / rate;
  const double inv_sinc_rate = 1.0 / (2.0 * rate);
  return fs * kFirStageDelay * inv_rate - fs * sinc_delay * inv_sinc_rate;
}

double FrontDelay(const DecimationChain& c, double fs) {
  switch (c.front) {
    case ChainFront::kSinc:
    case ChainFront::kSincFir:
    case ChainFront::kTaperToStreamRate:
      return c.front_delay;
    case ChainFront::kFir:
    case ChainFront::kTaper: {
      if (!(fs < c.front_rate)) return c.front_delay;
      const double inv_front = 1.0 / c.front_rate;
      double d = fs * inv_front * c.front_delay;
      if (c.sinc_to_fs) {
        if (0.0 < fs) d = d + c.sinc_delay * fs * (1.0 / fs - inv_front);
      } else {
        double e = 0.0;
        if (0.0 < fs && 2.0 * fs <= c.front_rate) e = c.sinc_delay * fs * (1.0 / (2.0 * fs) - inv_front);
        d = d + e + kFirStageDelay;
      }
      return d;
    }
    case ChainFront::kTaperCosine: {
      const double inv_front = 1.0 / c.front_rate;
      double d = fs * inv_front * c.front_delay;
      if (0.0 < fs && fs <= c.front_rate) d = d + c.sinc_delay * fs * (1.0 / fs - inv_front);
      return d;
    }
  }
  return 0.0;
}

}  // namespace

Status AcqDelaySamples(double fs, int16_t stream, int32_t chain_type, int32_t /*k8sr*/, int32_t /*lfrq*/,
                       double* delay) {
  const DecimationChain* chain = FindDecimationChain(chain_type);
  if (chain == nullptr) return Status::kDecimationUnsupported;
  double d = FrontDelay(*chain, fs);
  switch (chain->low_stages) {
    case LowRateStages::kNone:
      break;
    case LowRateStages::k2400ExceptStream3:
      // These chains enter the 2400 Hz stage at 2400 Hz itself.
      if (stream != 3 && 0.0 < fs && fs <= kStage2400Rate)
        d = d + LowRateStageDelay(fs, kStage2400Rate, chain->sinc_delay);
      break;
    case LowRateStages::kBelowTheirRates:
      if (fs < kStage2400Rate && 0.0 < fs) d = d + LowRateStageDelay(fs, kStage2400Rate, chain->sinc_delay);
      if (fs < kStage150Rate && 0.0 < fs) d = d + LowRateStageDelay(fs, kStage150Rate, chain->sinc_delay);
      break;
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

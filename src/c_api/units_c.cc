// The physical-units extension of the C interface: argument checks, then the
// units layer. No exception crosses this boundary.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "c_api/handles.h"
#include "olmtsfil.h"
#include "units/chain.h"
#include "units/converter.h"

struct OlmtsChain {
  olmtsfil::units::Chain chain;
};

struct OlmtsConverter {
  std::unique_ptr<olmtsfil::units::Converter> converter;
};

namespace {

using olmtsfil::units::FrequencyRange;

template <typename Body>
int32_t Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return OLMTS_NO_MEMORY;
  } catch (...) {
    return OLMTS_BAD_ARGUMENT;
  }
}

// Lowest and highest non-zero record frequency of a calibration.
FrequencyRange RangeOf(const CalHandle* cal) {
  FrequencyRange r;
  if (cal == nullptr) return r;
  const olmtsfil::Calibration& c = cal->calibration;
  double low = std::numeric_limits<double>::infinity(), high = 0;
  for (int i = 0; i < c.record_count; ++i) {
    const double f = c.Frequency(i);
    if (!(f > 0) || !std::isfinite(f)) continue;
    low = std::min(low, f);
    high = std::max(high, f);
  }
  if (high > 0) r = {low, high};
  return r;
}

void CopyText(char* out, std::size_t size, const std::string& text) {
  std::memset(out, 0, size);
  std::memcpy(out, text.data(), std::min(size - 1, text.size()));
}

bool ValidChannel(const OlmtsChain* chain, int32_t channel) {
  return channel >= 1 && channel <= chain->chain.channels();
}

bool ValidStage(const OlmtsChain* chain, int32_t channel, int32_t stage) {
  const int count = static_cast<int>(chain->chain.channel(channel - 1).stages.size());
  return stage == OLMTS_STAGE_TOTAL || (stage >= 0 && stage < count);
}

}  // namespace

extern "C" {

OLMTS_API int32_t OLMTS_CALL olmts_chain_open(TsHandle* ts, int32_t stream, CalHandle* box, CalHandle* const* sensors,
                                              const int32_t* sensor_blocks, int32_t options, double gain_frequency_hz,
                                              OlmtsChain** chain_out) {
  if (ts == nullptr) return OLMTS_NULL_HANDLE;
  if (box == nullptr) return OLMTS_NULL_CAL_HANDLE;
  if (chain_out == nullptr || (options & ~(OLMTS_CHAIN_REQUIRE_SENSORS | OLMTS_CHAIN_FORCE_BOX)) != 0 ||
      std::isnan(gain_frequency_hz))
    return OLMTS_BAD_ARGUMENT;
  return Guarded([&] {
    olmtsfil::units::ChainInputs in;
    in.ts = ts;
    in.stream = stream;
    in.box = box;
    in.box_range = RangeOf(box);
    for (int c = 0; c < 12; ++c) {
      in.sensors[c] = sensors != nullptr ? sensors[c] : nullptr;
      in.blocks[c] = sensor_blocks != nullptr ? sensor_blocks[c] : 0;
      in.sensor_ranges[c] = RangeOf(in.sensors[c]);
    }
    in.options = options;
    in.gain_frequency_hz = gain_frequency_hz;
    auto chain = std::make_unique<OlmtsChain>();
    if (int32_t st = chain->chain.Build(in); st != OLMTS_OK) return st;
    *chain_out = chain.release();
    return static_cast<int32_t>(OLMTS_OK);
  });
}

OLMTS_API void OLMTS_CALL olmts_chain_close(OlmtsChain** chain_ref) {
  if (chain_ref == nullptr || *chain_ref == nullptr) return;
  delete *chain_ref;
  *chain_ref = nullptr;
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_channels(const OlmtsChain* chain, int32_t* count_out) {
  if (chain == nullptr || count_out == nullptr) return OLMTS_BAD_ARGUMENT;
  *count_out = chain->chain.channels();
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_channel(const OlmtsChain* chain, int32_t channel, char component[4],
                                                 char units[8]) {
  if (chain == nullptr || !ValidChannel(chain, channel)) return OLMTS_BAD_ARGUMENT;
  const olmtsfil::units::ChannelChain& ch = chain->chain.channel(channel - 1);
  if (component != nullptr) CopyText(component, 4, ch.component);
  if (units != nullptr) CopyText(units, 8, ch.units);
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_count(const OlmtsChain* chain, int32_t channel, int32_t* count_out) {
  if (chain == nullptr || count_out == nullptr || !ValidChannel(chain, channel)) return OLMTS_BAD_ARGUMENT;
  *count_out = static_cast<int32_t>(chain->chain.channel(channel - 1).stages.size());
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_info(const OlmtsChain* chain, int32_t channel, int32_t stage,
                                                    OlmtsStageInfo* info_out) {
  if (chain == nullptr || info_out == nullptr || !ValidChannel(chain, channel) || !ValidStage(chain, channel, stage))
    return OLMTS_BAD_ARGUMENT;
  return Guarded([&] {
    const olmtsfil::units::ChannelChain& ch = chain->chain.channel(channel - 1);
    OlmtsStageInfo info{};
    if (stage == OLMTS_STAGE_TOTAL) {
      info.kind = 0;
      CopyText(info.name, sizeof info.name, "total");
      CopyText(info.input_units, sizeof info.input_units, ch.units);
      CopyText(info.output_units, sizeof info.output_units, "counts");
      std::string source;
      for (const olmtsfil::units::Stage& s : ch.stages) {
        info.flags |= s.flags;
        if (s.range.low > 0 || s.range.high > 0) {
          info.fmin_hz = std::max(info.fmin_hz, s.range.low);
          info.fmax_hz = info.fmax_hz > 0 ? std::min(info.fmax_hz, s.range.high) : s.range.high;
        }
        source += (source.empty() ? "" : " x ") + s.name;
      }
      CopyText(info.source, sizeof info.source, source);
    } else {
      const olmtsfil::units::Stage& s = ch.stages[static_cast<std::size_t>(stage)];
      info.kind = s.kind;
      info.flags = s.flags;
      CopyText(info.name, sizeof info.name, s.name);
      CopyText(info.input_units, sizeof info.input_units, s.input_units);
      CopyText(info.output_units, sizeof info.output_units, s.output_units);
      CopyText(info.source, sizeof info.source, s.source);
      CopyText(info.serial, sizeof info.serial, s.serial);
      info.fmin_hz = s.range.low;
      info.fmax_hz = s.range.high;
    }
    info.gain_frequency_hz = chain->chain.gain_frequency();
    info.gain = chain->chain.Gain(channel - 1, stage);
    *info_out = info;
    return static_cast<int32_t>(OLMTS_OK);
  });
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_stage_response(OlmtsChain* chain, int32_t channel, int32_t stage,
                                                        double freq_hz, Complex* resp_out, int32_t* outside_out) {
  if (chain == nullptr || resp_out == nullptr || !ValidChannel(chain, channel) || !ValidStage(chain, channel, stage) ||
      !std::isfinite(freq_hz))
    return OLMTS_BAD_ARGUMENT;
  return Guarded([&] {
    std::complex<double> v;
    bool outside = false;
    const int32_t st = chain->chain.Response(channel - 1, stage, freq_hz, &v, &outside);
    if (st != OLMTS_OK) return st;
    resp_out->re = v.real();
    resp_out->im = v.imag();
    if (outside_out != nullptr) *outside_out = outside ? 1 : 0;
    return static_cast<int32_t>(OLMTS_OK);
  });
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_delay(const OlmtsChain* chain, double* samples_out, double* seconds_out) {
  if (chain == nullptr) return OLMTS_BAD_ARGUMENT;
  if (samples_out != nullptr) *samples_out = chain->chain.delay_samples();
  if (seconds_out != nullptr) *seconds_out = chain->chain.delay_seconds();
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_chain_sample_rate(const OlmtsChain* chain, double* rate_hz_out) {
  if (chain == nullptr || rate_hz_out == nullptr) return OLMTS_BAD_ARGUMENT;
  *rate_hz_out = chain->chain.sample_rate();
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_open(OlmtsChain* chain, int32_t mode, const OlmtsConvertOptions* options,
                                                  OlmtsConverter** converter_out) {
  if (chain == nullptr || converter_out == nullptr) return OLMTS_BAD_ARGUMENT;
  if (mode != OLMTS_UNITS_NOMINAL && mode != OLMTS_UNITS_DECONVOLVED) return OLMTS_BAD_ARGUMENT;
  return Guarded([&] {
    auto out = std::make_unique<OlmtsConverter>();
    int32_t st;
    if (mode == OLMTS_UNITS_NOMINAL) {
      st = olmtsfil::units::MakeNominalConverter(chain->chain, &out->converter);
    } else {
      olmtsfil::units::ConvertOptions o;
      if (options != nullptr) {
        o.fmin_hz = options->fmin_hz;
        o.fmax_hz = options->fmax_hz;
        o.block = options->block;
        o.threads = options->threads;
      }
      st = olmtsfil::units::MakeDeconvolvingConverter(chain->chain, o, &out->converter);
    }
    if (st != OLMTS_OK) return st;
    *converter_out = out.release();
    return static_cast<int32_t>(OLMTS_OK);
  });
}

OLMTS_API void OLMTS_CALL olmts_converter_close(OlmtsConverter** converter_ref) {
  if (converter_ref == nullptr || *converter_ref == nullptr) return;
  delete *converter_ref;
  *converter_ref = nullptr;
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_push(OlmtsConverter* converter, const double* values, int32_t scans) {
  if (converter == nullptr || scans < 0 || (values == nullptr && scans > 0)) return OLMTS_BAD_ARGUMENT;
  return Guarded([&] { return converter->converter->Push(values, scans); });
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_finish(OlmtsConverter* converter) {
  if (converter == nullptr) return OLMTS_BAD_ARGUMENT;
  return Guarded([&] { return converter->converter->Finish(); });
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_start(OlmtsConverter* converter, int64_t first_scan, int64_t end_scan,
                                                   int64_t* input_from_out, int64_t* input_to_out) {
  if (converter == nullptr || input_from_out == nullptr || input_to_out == nullptr) return OLMTS_BAD_ARGUMENT;
  int64_t from = 0, to = 0;
  const int32_t st = converter->converter->Start(first_scan, end_scan, &from, &to);
  if (st != OLMTS_OK) return st;
  *input_from_out = from;
  *input_to_out = to;
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_pull(OlmtsConverter* converter, double* out, int32_t capacity,
                                                  int32_t* scans_out) {
  if (converter == nullptr || scans_out == nullptr || capacity < 0 || (out == nullptr && capacity > 0))
    return OLMTS_BAD_ARGUMENT;
  *scans_out = static_cast<int32_t>(converter->converter->Pull(out, capacity));
  return OLMTS_OK;
}

OLMTS_API int32_t OLMTS_CALL olmts_converter_band(const OlmtsConverter* converter, double* fmin_hz_out,
                                                  double* fmax_hz_out, int32_t* block_out) {
  if (converter == nullptr) return OLMTS_BAD_ARGUMENT;
  if (fmin_hz_out != nullptr) *fmin_hz_out = converter->converter->fmin();
  if (fmax_hz_out != nullptr) *fmax_hz_out = converter->converter->fmax();
  if (block_out != nullptr) *block_out = converter->converter->block();
  return OLMTS_OK;
}

}  // extern "C"

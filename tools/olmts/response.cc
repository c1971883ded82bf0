#include "olmts/response.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace olmts {

double PhaseDegrees(std::complex<double> value) { return std::arg(value) * 180.0 / std::numbers::pi; }

InstrumentResponse::InstrumentResponse(const Recording& recording, int stream, const std::string& box_base,
                                       const std::vector<std::string>& sensors, const ChainOptions& options)
    : recording_(recording), stream_(stream), channels_(recording.ChannelCount()) {
  if (channels_ < 1 || channels_ > 12)
    throw ToolError(recording.base() + ".TBL: " + std::to_string(channels_) + " recorded channels; 1 ... 12 expected");
  box_ = std::make_unique<Calibration>(1, box_base);
  if (box_->ChannelCount() != channels_)
    throw ToolError(box_->path() + ": " + DescribeStatus(OLMTS_CHANNEL_COUNT_MISMATCH) + ": the calibration has " +
                    std::to_string(box_->ChannelCount()) + " channels, the recording " + std::to_string(channels_));
  map_.assign(static_cast<std::size_t>(channels_), SensorChannel{});

  // Magnetic channel numbers in component order, for the smaller sensor files.
  std::vector<int> magnetic;
  for (const char* name : {"CHHX", "CHHY", "CHHZ"}) {
    int32_t n = 0;
    if (ReadPrmHT(recording.get(), name, OLMTS_TYPE_INT32, &n) == OLMTS_OK && n >= 1 && n <= channels_)
      magnetic.push_back(n);
  }
  std::size_t next_magnetic = 0;
  for (const std::string& base : sensors) {
    sensors_.push_back(std::make_unique<Calibration>(options.sensor_kind, base));
    const int file = static_cast<int>(sensors_.size()) - 1;
    const int count = sensors_.back()->ChannelCount();
    if (count == channels_) {
      for (int c = 0; c < channels_; ++c)
        if (map_[static_cast<std::size_t>(c)].file < 0) map_[static_cast<std::size_t>(c)] = {file, c};
      continue;
    }
    for (int k = 0; k < count; ++k) {
      if (next_magnetic == magnetic.size())
        throw ToolError(sensors_.back()->path() + ": more sensor channels than magnetic components in " +
                        recording.base() + ".TBL");
      map_[static_cast<std::size_t>(magnetic[next_magnetic++] - 1)] = {file, k};
    }
  }
  // Electric channels have no sensor file: a full-size file's block for them is not used.
  CalHandle* handles[12] = {};
  int32_t blocks[12] = {};
  std::vector<std::string> names = ChannelNames(recording.get(), channels_);
  for (int c = 0; c < channels_; ++c) {
    const SensorChannel& s = map_[static_cast<std::size_t>(c)];
    if (s.file < 0 || names[static_cast<std::size_t>(c)].empty() || names[static_cast<std::size_t>(c)][0] != 'H')
      continue;
    handles[c] = sensors_[static_cast<std::size_t>(s.file)]->get();
    blocks[c] = s.channel;
  }
  const int32_t flags =
      (options.require_sensors ? OLMTS_CHAIN_REQUIRE_SENSORS : 0) | (options.force_box ? OLMTS_CHAIN_FORCE_BOX : 0);
  const int32_t status = olmts_chain_open(recording.get(), stream, box_->get(), handles, blocks, flags,
                                          options.gain_frequency.value_or(0.0), &chain_);
  if (status == OLMTS_SENSOR_REQUIRED) {
    std::string missing;
    for (int c = 0; c < channels_; ++c)
      if (!names[static_cast<std::size_t>(c)].empty() && names[static_cast<std::size_t>(c)][0] == 'H' && !handles[c])
        missing += (missing.empty() ? "" : ", ") + names[static_cast<std::size_t>(c)];
    throw ToolError(recording.base() + ": no sensor calibration for " + missing + " (--require-sensors)");
  }
  if (status == OLMTS_BOX_SERIAL_MISMATCH)
    throw ToolError(box_->path() + ": " + DescribeStatus(status) + ": its \"SNUM\" is not the one of the records of " +
                    recording.Where(stream) + "; --force-box uses it anyway");
  Check(status, box_->path() + ": chain of stream " + std::to_string(stream));
}

InstrumentResponse::~InstrumentResponse() { olmts_chain_close(&chain_); }

std::vector<OlmtsStageInfo> InstrumentResponse::Stages(int channel) const {
  int32_t count = 0;
  Check(olmts_chain_stage_count(chain_, channel + 1, &count), "stages");
  std::vector<OlmtsStageInfo> out(static_cast<std::size_t>(count) + 1);
  for (int s = 0; s <= count; ++s)
    Check(olmts_chain_stage_info(chain_, channel + 1, s == count ? OLMTS_STAGE_TOTAL : s,
                                 &out[static_cast<std::size_t>(s)]),
          "stage info");
  return out;
}

std::string InstrumentResponse::ChannelUnits(int channel) const {
  char component[4], units[8];
  Check(olmts_chain_channel(chain_, channel + 1, component, units), "channel");
  return units;
}

std::string InstrumentResponse::SensorSource(int channel) const {
  const OlmtsStageInfo first = Stages(channel).front();
  const SensorChannel& s = map_.at(static_cast<std::size_t>(channel));
  if (first.kind == OLMTS_STAGE_SENSOR && (first.flags & OLMTS_STAGE_TABLE_NOMINAL) == 0 && s.file >= 0)
    return sensors_[static_cast<std::size_t>(s.file)]->path() + " channel " + std::to_string(s.channel + 1) + " (" +
           first.source + ")";
  return first.source;
}

double InstrumentResponse::DelaySamples() const {
  double samples = 0;
  olmts_chain_delay(chain_, &samples, nullptr);
  return samples;
}

double InstrumentResponse::DelaySeconds() const {
  double seconds = 0;
  olmts_chain_delay(chain_, nullptr, &seconds);
  return seconds;
}

std::vector<std::string> InstrumentResponse::Warnings() const {
  std::vector<std::string> out;
  const std::vector<std::string> names = ChannelNames(recording_.get(), channels_);
  for (int c = 0; c < channels_; ++c) {
    const std::string who = names[static_cast<std::size_t>(c)] + " (channel " + std::to_string(c + 1) + ")";
    for (const OlmtsStageInfo& s : Stages(c)) {
      if (s.kind == 0) continue;
      if (s.flags & OLMTS_STAGE_TABLE_NOMINAL) out.push_back(who + ": " + s.source);
      if (s.flags & OLMTS_STAGE_SERIAL_MISMATCH) out.push_back(who + ": sensor serial differs: " + s.source);
      if (s.flags & OLMTS_STAGE_UNUSABLE) out.push_back(who + ": no " + std::string(s.name) + " value: " + s.source);
      if ((s.flags & OLMTS_STAGE_BOX_FORCED) && c == 0)
        out.push_back(box_->path() + ": calibration of another box, used as forced: " + s.source);
    }
  }
  return out;
}

std::vector<ChannelResponse> InstrumentResponse::At(double f) const {
  std::vector<ChannelResponse> out(static_cast<std::size_t>(channels_));
  char where[64];
  std::snprintf(where, sizeof where, " at %g Hz", f);
  Complex lib[12] = {};
  double lib_aux[12] = {};
  const int32_t box_status = CalcBoxRespHT(box_->get(), recording_.get(), stream_, f, lib, lib_aux);
  // An unusable channel stops the box computation part way, so none of its
  // channels is trusted then.
  if (box_status != OLMTS_OK && box_status != OLMTS_NO_RESPONSE)
    Check(box_status, box_->path() + ": box response" + where + " on stream " + std::to_string(stream_));
  for (int c = 0; c < channels_; ++c) {
    ChannelResponse& r = out[static_cast<std::size_t>(c)];
    r.library_box = {{lib[c].re, lib[c].im}, lib_aux[c], box_status == OLMTS_OK, false};
    const auto stage = [&](int index, ResponseValue* v, const std::string& what) {
      Complex value{};
      int32_t outside = 0;
      const int32_t st = olmts_chain_stage_response(chain_, c + 1, index, f, &value, &outside);
      if (st == OLMTS_NO_RESPONSE) return;
      Check(st, what + where);
      v->value = {value.re, value.im};
      v->usable = true;
      v->outside = outside != 0;
    };
    stage(0, &r.sensor, SensorSource(c));
    if (r.library_box.usable) stage(1, &r.box, box_->path() + ": box response");
    r.box.aux = lib_aux[c];
    r.library_box.outside = r.box.outside;
    r.sensor.aux = std::abs(r.sensor.value);
    r.total.value = r.sensor.value * r.box.value;
    r.total.aux = r.sensor.aux * r.box.aux;
    r.total.usable = r.sensor.usable && r.box.usable;
    r.total.outside = r.sensor.outside || r.box.outside;
  }
  return out;
}

}  // namespace olmts

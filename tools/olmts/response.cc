#include "olmts/response.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace olmts {

double PhaseDegrees(std::complex<double> value) { return std::arg(value) * 180.0 / std::numbers::pi; }

InstrumentResponse::InstrumentResponse(const Recording& recording, const std::string& box_base,
                                       const std::vector<std::string>& sensors, int sensor_kind)
    : recording_(recording), channels_(recording.ChannelCount()) {
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
    sensors_.push_back(std::make_unique<Calibration>(sensor_kind, base));
    const int file = static_cast<int>(sensors_.size()) - 1;
    const int count = sensors_.back()->ChannelCount();
    sensor_channels_.push_back(count);
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
  // The nominal values stand in where no calibration does; a table without
  // them leaves zeros, shown as unusable.
  CalcSensorNomGainHT(recording.get(), nominal_.data());
}

std::string InstrumentResponse::SensorSource(int channel) const {
  const SensorChannel& s = map_.at(static_cast<std::size_t>(channel));
  if (s.file >= 0)
    return sensors_[static_cast<std::size_t>(s.file)]->path() + " channel " + std::to_string(s.channel + 1);
  char text[64];
  std::snprintf(text, sizeof text, "nominal value %g from the table", nominal_[static_cast<std::size_t>(channel)]);
  return text;
}

std::vector<ChannelResponse> InstrumentResponse::At(int stream, double f) const {
  std::vector<ChannelResponse> out(static_cast<std::size_t>(channels_));
  char where[64];
  std::snprintf(where, sizeof where, " at %g Hz", f);

  Complex box[12] = {};
  double box_aux[12] = {};
  const int32_t box_status = CalcBoxRespHT(box_->get(), recording_.get(), stream, f, box, box_aux);
  // An unusable channel stops the box computation part way, so none of its
  // channels is trusted then.
  if (box_status != OLMTS_OK && box_status != OLMTS_NO_RESPONSE)
    Check(box_status, box_->path() + ": box response" + where + " on stream " + std::to_string(stream));
  for (int c = 0; c < channels_; ++c) {
    ResponseValue& v = out[static_cast<std::size_t>(c)].box;
    v.value = {box[c].re, box[c].im};
    v.aux = box_aux[c];
    v.usable = box_status == OLMTS_OK;
  }

  for (std::size_t file = 0; file < sensors_.size(); ++file) {
    Complex resp[12] = {};
    double aux[12] = {};
    const int32_t status = CalcSensorRespHT(sensors_[file]->get(), recording_.get(), f, resp, aux);
    // Here every channel is computed and the negative companions mark the bad ones.
    if (status != OLMTS_OK && status != OLMTS_NO_RESPONSE)
      Check(status, sensors_[file]->path() + ": sensor response" + where);
    for (int c = 0; c < channels_; ++c) {
      const SensorChannel& s = map_[static_cast<std::size_t>(c)];
      if (s.file != static_cast<int>(file)) continue;
      ResponseValue& v = out[static_cast<std::size_t>(c)].sensor;
      v.value = {resp[s.channel].re, resp[s.channel].im};
      v.aux = aux[s.channel];
      v.usable = aux[s.channel] >= 0;
    }
  }
  for (int c = 0; c < channels_; ++c) {
    ChannelResponse& r = out[static_cast<std::size_t>(c)];
    if (map_[static_cast<std::size_t>(c)].file < 0) {
      const double nominal = nominal_[static_cast<std::size_t>(c)];
      r.sensor = {nominal, nominal, nominal != 0};
    }
    r.total.value = r.box.value * r.sensor.value;
    r.total.aux = r.box.aux * r.sensor.aux;
    r.total.usable = r.box.usable && r.sensor.usable;
  }
  return out;
}

}  // namespace olmts

#include "olmts/export/instrument_chain.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <iostream>

// The frequencies of a calibration's records are read from the handle the
// library filled; no second parser of the file.
#include "c_api/handles.h"

namespace olmts::exporting {
namespace {

std::string Text(const char* bytes, std::size_t size) { return std::string(bytes, strnlen(bytes, size)); }

// The FDSN name of the digitiser's output.
std::string FdsnUnits(const std::string& units) { return units == "counts" ? "count" : units; }

// The distinct record frequencies of a calibration, ascending.
std::vector<double> RecordFrequencies(const Calibration* calibration) {
  std::vector<double> out;
  if (calibration == nullptr || calibration->get() == nullptr) return out;
  const olmtsfil::Calibration& c = calibration->get()->calibration;
  for (int i = 0; i < c.record_count; ++i) {
    const double f = c.Frequency(i);
    if (f > 0 && std::isfinite(f)) out.push_back(f);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace

void InstrumentChain::Prepare(int stream) {
  if (chains_.count(stream) != 0) return;
  auto response = std::make_unique<InstrumentResponse>(recording_, stream, box_, sensors_, options_);
  for (const std::string& warning : response->Warnings())
    std::cerr << "olmts: " << recording_.Where(stream) << ": " << warning << '\n';
  chains_[stream] = std::move(response);
}

std::vector<double> InstrumentChain::ListFrequencies(const std::vector<double>& calibrated_hz, double lowest_hz,
                                                     double rate_hz, double gain_frequency_hz) {
  const double nyquist = rate_hz / 2;
  const double top = nyquist / 10;
  std::vector<double> f;
  // Below the range every calibration covers, one stage would be extrapolated.
  for (double c : calibrated_hz)
    if (c > 0 && c >= lowest_hz && c <= nyquist) f.push_back(c);
  if (f.empty() && lowest_hz > 0 && lowest_hz < top) {
    // Nothing measured within the band: ten a decade stand in for the records.
    f.push_back(lowest_hz);
    for (int k = static_cast<int>(std::floor(std::log10(lowest_hz) * 10)) + 1; std::pow(10.0, k / 10.0) < top; ++k)
      f.push_back(std::pow(10.0, k / 10.0));
  }
  for (int i = 0; i <= 40; ++i) f.push_back(top + (nyquist - top) * i / 40.0);
  f.push_back(gain_frequency_hz);
  std::sort(f.begin(), f.end());
  f.erase(std::unique(f.begin(), f.end()), f.end());
  return f;
}

void InstrumentChain::Describe(int stream, const Component& component, ChannelDescription& channel) {
  Prepare(stream);
  const InstrumentResponse& response = *chains_.at(stream);
  OlmtsChain* chain = response.chain();
  const int c = component.channel;
  const std::string where = recording_.Where(stream) + ": " + component.name + " on channel " + std::to_string(c);
  double rate = 0;
  Check(olmts_chain_sample_rate(chain, &rate), where + ": sample rate");
  std::vector<OlmtsStageInfo> infos = response.Stages(c - 1);  // the stages, then the total
  if (infos.empty()) throw ToolError(where + ": the library gives no stage");
  const OlmtsStageInfo total = infos.back();
  infos.pop_back();
  if (total.flags & OLMTS_STAGE_UNUSABLE)
    throw ToolError(where + ": the chain has no value (a dipole length of 0, or no sensor value)");

  double lowest = 0;  // the lowest frequency every measured stage covers
  for (const OlmtsStageInfo& info : infos) lowest = std::max(lowest, info.fmin_hz);
  if (!(lowest > 0)) lowest = rate / 2 * 1e-5;
  // Every measured stage of the channel is listed on one grid, so that the
  // stages multiply frequency by frequency: the records of its calibrations,
  // then the digital filters' fall towards Nyquist.
  std::vector<double> calibrated = RecordFrequencies(&response.box_calibration());
  for (double f : RecordFrequencies(response.sensor_calibration(c - 1))) calibrated.push_back(f);
  const std::vector<double> freqs = ListFrequencies(calibrated, lowest, rate, total.gain_frequency_hz);

  channel.stages.clear();
  for (std::size_t s = 0; s < infos.size(); ++s) {
    const OlmtsStageInfo& info = infos[s];
    const auto index = static_cast<int32_t>(s);
    ResponseStage stage;
    stage.name = Text(info.name, sizeof info.name);
    stage.description = Text(info.source, sizeof info.source);
    stage.input_units = FdsnUnits(Text(info.input_units, sizeof info.input_units));
    stage.output_units = FdsnUnits(Text(info.output_units, sizeof info.output_units));
    stage.gain = info.gain;
    stage.gain_frequency_hz = info.gain_frequency_hz;
    // Measured stages as lists; the dipole, the digitiser and a table's
    // nominal sensor value are plain gains.
    const bool measured =
        info.kind == OLMTS_STAGE_BOX || (info.kind == OLMTS_STAGE_SENSOR && !(info.flags & OLMTS_STAGE_TABLE_NOMINAL));
    if (measured) {
      if (!(info.gain > 0)) throw ToolError(where + ": the " + stage.name + " stage has no gain");
      stage.kind = ResponseStage::Kind::kList;
      for (double f : freqs) {
        Complex h{};
        Check(olmts_chain_stage_response(chain, c, index, f, &h, nullptr), where + ": " + stage.name + " response");
        stage.frequencies_hz.push_back(f);
        stage.normalized.push_back(std::complex<double>(h.re, h.im) / info.gain);
      }
    } else {
      Complex h{};
      Check(olmts_chain_stage_response(chain, c, index, info.gain_frequency_hz, &h, nullptr),
            where + ": " + stage.name);
      // A gain keeps its sign (a dipole laid out backwards, say) in its value.
      if (h.re < 0) stage.gain = -stage.gain;
    }
    if (info.kind == OLMTS_STAGE_DIGITISER) {
      stage.digital = true;
      stage.sample_rate_hz = rate;
      stage.delay_s = response.DelaySeconds();
    }
    if (info.kind == OLMTS_STAGE_SENSOR) {
      channel.sensor_description = response.SensorSource(c - 1);
      channel.sensor_serial = Text(info.serial, sizeof info.serial);
    }
    if (info.kind == OLMTS_STAGE_DIPOLE) channel.sensor_description = "electrode line, " + stage.description;
    channel.stages.push_back(std::move(stage));
  }
  channel.sensitivity = total.gain;
  channel.sensitivity_frequency_hz = total.gain_frequency_hz;
}

}  // namespace olmts::exporting

#if defined(OLMTS_HAVE_EXPORT)  // libmseed and libxml2 were found

#include "olmts/export/station_xml.h"

#include <libxml/xmlwriter.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>

#include "olmts/tool.h"

namespace olmts::exporting {
namespace {

// Shortest decimal that reads back as the same double, so the document loses
// nothing of the library's values.
std::string Number(double value) {
  char text[40];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

class Writer {
 public:
  Writer() {
    buffer_ = xmlBufferCreate();
    if (buffer_ != nullptr) writer_ = xmlNewTextWriterMemory(buffer_, 0);
    if (writer_ == nullptr) throw ToolError("station.xml: libxml2 could not start a document");
    xmlTextWriterSetIndent(writer_, 1);
    xmlTextWriterSetIndentString(writer_, BAD_CAST "  ");
    Check(xmlTextWriterStartDocument(writer_, "1.0", "UTF-8", nullptr));
  }
  ~Writer() {
    if (writer_ != nullptr) xmlFreeTextWriter(writer_);
    if (buffer_ != nullptr) xmlBufferFree(buffer_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Start(const char* name) { Check(xmlTextWriterStartElement(writer_, BAD_CAST name)); }
  void End() { Check(xmlTextWriterEndElement(writer_)); }
  void Attribute(const char* name, const std::string& value) {
    Check(xmlTextWriterWriteAttribute(writer_, BAD_CAST name, BAD_CAST value.c_str()));
  }
  void Element(const char* name, const std::string& text) {
    Check(xmlTextWriterWriteElement(writer_, BAD_CAST name, BAD_CAST text.c_str()));
  }
  void Element(const char* name, double value) { Element(name, Number(value)); }
  void Comment(const std::string& text) { Check(xmlTextWriterWriteComment(writer_, BAD_CAST text.c_str())); }

  std::string Finish() {
    Check(xmlTextWriterEndDocument(writer_));
    xmlFreeTextWriter(writer_);
    writer_ = nullptr;
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer_)),
                       static_cast<std::size_t>(xmlBufferLength(buffer_)));
  }

 private:
  static void Check(int result) {
    if (result < 0) throw ToolError("station.xml: libxml2 could not write the document");
  }
  xmlBufferPtr buffer_ = nullptr;
  xmlTextWriterPtr writer_ = nullptr;
};

void Units(Writer& w, const char* element, const std::string& name) {
  static const struct {
    const char* name;
    const char* description;
  } kDescriptions[] = {{"mV/km", "electric field in millivolts per kilometre"},
                       {"nT", "magnetic flux density in nanotesla"},
                       {"V", "volts"},
                       {"count", "digital counts"}};
  w.Start(element);
  w.Element("Name", name);
  for (const auto& d : kDescriptions)
    if (name == d.name) w.Element("Description", d.description);
  w.End();
}

void Stage(Writer& w, int number, const ResponseStage& stage) {
  w.Start("Stage");
  w.Attribute("number", std::to_string(number));
  const char* filter = stage.kind == ResponseStage::Kind::kList ? "ResponseList" : "Coefficients";
  w.Start(filter);
  w.Attribute("name", stage.name);
  if (!stage.description.empty()) w.Element("Description", stage.description);
  Units(w, "InputUnits", stage.input_units);
  Units(w, "OutputUnits", stage.output_units);
  if (stage.kind == ResponseStage::Kind::kList) {
    for (std::size_t i = 0; i < stage.frequencies_hz.size(); ++i) {
      w.Start("ResponseListElement");
      w.Element("Frequency", stage.frequencies_hz[i]);
      w.Element("Amplitude", std::abs(stage.normalized[i]));
      w.Element("Phase", std::arg(stage.normalized[i]) * 180.0 / std::numbers::pi);
      w.End();
    }
  } else {
    // A pure gain: the transfer function 1, the value in StageGain.
    w.Element("CfTransferFunctionType", stage.digital ? "DIGITAL" : "ANALOG (HERTZ)");
    w.Element("Numerator", 1.0);
  }
  w.End();
  if (stage.digital) {
    w.Start("Decimation");
    w.Element("InputSampleRate", stage.sample_rate_hz);
    w.Element("Factor", "1");
    w.Element("Offset", "0");
    // The time stamps of the data are those of the recorder: the delay is
    // declared here and not corrected.
    w.Element("Delay", stage.delay_s);
    w.Element("Correction", 0.0);
    w.End();
  }
  w.Start("StageGain");
  w.Element("Value", stage.gain);
  w.Element("Frequency", stage.gain_frequency_hz);
  w.End();
  w.End();
}

void Channel(Writer& w, const StationDescription& station, const ChannelDescription& c) {
  w.Start("Channel");
  w.Attribute("code", c.code);
  w.Attribute("locationCode", c.location);
  w.Attribute("startDate", IsoTime(c.start_us));
  w.Attribute("endDate", IsoTime(c.end_us));
  w.Element("Description", c.component + " on channel " + std::to_string(c.channel_number));
  w.Element("Latitude", station.latitude.value_or(0));
  w.Element("Longitude", station.longitude.value_or(0));
  w.Element("Elevation", station.elevation.value_or(0));
  w.Element("Depth", 0.0);
  w.Element("Azimuth", c.azimuth_deg);
  w.Element("Dip", c.dip_deg);
  w.Element("Type", "GEOPHYSICAL");
  w.Element("SampleRate", c.sample_rate_hz);
  if (!c.sensor_description.empty() || !c.sensor_serial.empty()) {
    w.Start("Sensor");
    if (!c.sensor_description.empty()) w.Element("Description", c.sensor_description);
    if (!c.sensor_serial.empty()) w.Element("SerialNumber", c.sensor_serial);
    w.End();
  }
  if (!station.hardware.empty()) {
    w.Start("DataLogger");
    if (!station.board.empty()) w.Element("Description", "board " + station.board);
    w.Element("Model", station.hardware);
    w.End();
  }
  if (!c.stages.empty()) {
    w.Start("Response");
    w.Start("InstrumentSensitivity");
    w.Element("Value", c.sensitivity);
    w.Element("Frequency", c.sensitivity_frequency_hz);
    Units(w, "InputUnits", c.units);
    Units(w, "OutputUnits", "count");
    w.End();
    int number = 1;
    for (const ResponseStage& stage : c.stages) Stage(w, number++, stage);
    w.End();
  }
  w.End();
}

}  // namespace

std::string IsoTime(int64_t us) {
  const int64_t seconds = us >= 0 ? us / 1000000 : (us - 999999) / 1000000;
  const int64_t micro = us - seconds * 1000000;
  return FormatTime(StampToSeconds(StampFromSeconds(seconds)), static_cast<double>(micro) / 1e6, 6) + "Z";
}

std::string StationXml(const StationDescription& station) {
  Writer w;
  w.Start("FDSNStationXML");
  w.Attribute("xmlns", "http://www.fdsn.org/xml/station/1");
  w.Attribute("schemaVersion", "1.2");
  w.Element("Source", "olmts export");
  w.Element("Module", "olmts " OLMTS_VERSION);
  char created[40];
  const std::time_t now = std::time(nullptr);
  std::strftime(created, sizeof created, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  w.Element("Created", created);
  w.Start("Network");
  w.Attribute("code", station.network);
  int64_t first = 0, last = 0;
  for (std::size_t i = 0; i < station.channels.size(); ++i) {
    if (i == 0 || station.channels[i].start_us < first) first = station.channels[i].start_us;
    if (i == 0 || station.channels[i].end_us > last) last = station.channels[i].end_us;
  }
  w.Start("Station");
  w.Attribute("code", station.station);
  if (!station.channels.empty()) {
    w.Attribute("startDate", IsoTime(first));
    w.Attribute("endDate", IsoTime(last));
  }
  if (!station.latitude || !station.longitude || !station.elevation)
    w.Comment(" the recording's table gives no position: 0 stands where LAT, LON or ELEV is missing ");
  w.Element("Latitude", station.latitude.value_or(0));
  w.Element("Longitude", station.longitude.value_or(0));
  w.Element("Elevation", station.elevation.value_or(0));
  w.Start("Site");
  w.Element("Name", station.site_name.empty() ? station.station : station.site_name);
  w.End();
  for (const ChannelDescription& c : station.channels) Channel(w, station, c);
  w.End();
  w.End();
  w.End();
  return w.Finish();
}

}  // namespace olmts::exporting

#endif  // OLMTS_HAVE_EXPORT

// `olmts export --format mseed`: every exported channel of every stream read
// scan by scan through the library's raw scans and written as 32-bit counts,
// lossless; a new segment wherever the library's gap test says records do not
// join; the time stamps as recorded (the acquisition delay is declared in
// station.xml, not applied).
#if defined(OLMTS_HAVE_EXPORT)  // libmseed and libxml2 were found

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "olmts/export/export.h"
#include "olmts/export/instrument_chain.h"
#include "olmts/export/mseed_writer.h"
#include "olmts/export/output_file.h"
#include "olmts/export/seed_codes.h"
#include "olmts/export/station_xml.h"
#include "olmts/tool.h"
#include "table/components.h"

namespace olmts {

bool ExportAvailable() { return true; }

namespace {

using namespace exporting;

std::optional<double> TableDouble(TsHandle* h, const char* name) {
  double value = 0;
  if (ReadPrmHT(h, name, OLMTS_TYPE_DOUBLE, &value) != OLMTS_OK || !std::isfinite(value)) return std::nullopt;
  return value;
}

// The recorded components as the table maps them onto channels. Azimuths come
// from "EXAZ", "EYAZ", "HXAZ", "HYAZ" (degrees east of north) where the table has
// them; otherwise x points north and y east. z points down, as in the usual MT
// frame.
std::vector<Component> Components(TsHandle* h) {
  std::vector<Component> out;
  for (const olmtsfil::ComponentName& k : olmtsfil::kComponentNames) {
    const char axis = k.name[1];  // "Ex" -> 'x'
    int32_t channel = 0;
    if (ReadPrmHT(h, k.parameter, OLMTS_TYPE_INT32, &channel) != OLMTS_OK || channel < 1 || channel > 12) continue;
    Component c;
    c.name = k.name;
    c.channel = channel;
    c.magnetic = k.magnetic;
    c.axis = axis;
    c.azimuth_deg = axis == 'y' ? 90 : 0;
    c.dip_deg = axis == 'z' ? 90 : 0;
    if (k.azimuth != nullptr)
      if (auto azimuth = TableDouble(h, k.azimuth)) {
        c.azimuth_deg = std::fmod(std::fmod(*azimuth, 360.0) + 360.0, 360.0);
        c.azimuth_from_table = true;
      }
    out.push_back(c);
  }
  return out;
}

struct StreamPlan {
  int stream = 0;
  double rate_hz = 0;
  int channels = 0, sample_bytes = 0;
  std::vector<Component> components;  // those recorded on this stream's channels
  std::vector<std::string> codes;
};

// What one stream's export produced.
struct StreamResult {
  std::vector<ChannelDescription> channels;
  std::vector<std::string> files;
  std::optional<std::string> problem;
};

StreamResult ExportStream(const Recording& recording, const StreamPlan& plan, const ExportOptions& options,
                          const std::string& station, std::vector<std::string>& complete) {
  TsHandle* h = recording.get();
  const int stream = plan.stream;
  std::vector<std::unique_ptr<MseedWriter>> writers;
  for (std::size_t i = 0; i < plan.components.size(); ++i) {
    const SeedId id{options.network, station, options.location, plan.codes[i]};
    const std::string name = id.network + "." + id.station + "." + id.location + "." + id.channel + ".mseed";
    writers.push_back(
        std::make_unique<MseedWriter>((std::filesystem::path(options.out) / name).string(), id, plan.rate_hz));
  }
  StreamResult result;
  std::vector<unsigned char> scan(static_cast<std::size_t>(plan.channels * plan.sample_bytes));
  int64_t remaining = 0;  // scans left in the current record
  bool joins = false;     // the next record follows the last one without a gap
  int64_t first_us = 0, last_us = 0, segment_start_us = 0, segment_scans = 0;
  bool any = false;
  int32_t status = OLMTS_OK;
  int64_t records = 0;
  for (;;) {
    int32_t flag = 0;
    status = ReadScanHT(h, stream, &flag, scan.data());
    if (status != OLMTS_OK) break;
    if (remaining == 0) {  // this scan opens a record: its tag is now the last one
      ++records;
      const auto utc = TagTime(h, stream, 0);
      remaining = TagInt(h, stream, 0, "SCNT").value_or(0);
      if (!utc || remaining <= 0) {
        status = OLMTS_TAG_MISMATCH;
        break;
      }
      if (!joins) {
        segment_start_us = StampToSeconds(*utc) * 1000000;
        segment_scans = 0;
        for (auto& w : writers) w->StartSegment(segment_start_us);
        if (!any) first_us = segment_start_us;
      }
    }
    for (std::size_t i = 0; i < plan.components.size(); ++i) {
      // The 24-bit two's complement value in the first three bytes of the sample.
      const unsigned char* s = scan.data() + (plan.components[i].channel - 1) * plan.sample_bytes;
      const uint32_t raw =
          static_cast<uint32_t>(s[0]) | static_cast<uint32_t>(s[1]) << 8 | static_cast<uint32_t>(s[2]) << 16;
      writers[i]->Append(static_cast<int32_t>(raw << 8) >> 8);
    }
    last_us = segment_start_us + std::llround(static_cast<double>(segment_scans) * 1e6 / plan.rate_hz);
    ++segment_scans;
    any = true;
    if (--remaining == 0) joins = GapHT(h, stream) == OLMTS_OK;
  }
  if (status != OLMTS_END_OF_DATA)
    result.problem = recording.Where(stream) + ": " + DescribeStatus(status) + " at record " + std::to_string(records) +
                     "; the files of this stream hold every scan before it";
  for (std::size_t i = 0; i < writers.size(); ++i) {
    writers[i]->Commit();
    complete.push_back(writers[i]->path());
    result.files.push_back(writers[i]->path());
    ChannelDescription c;
    c.code = plan.codes[i];
    c.location = options.location;
    c.component = plan.components[i].name;
    c.channel_number = plan.components[i].channel;
    c.sample_rate_hz = plan.rate_hz;
    c.azimuth_deg = plan.components[i].azimuth_deg;
    c.dip_deg = plan.components[i].dip_deg;
    c.units = plan.components[i].magnetic ? "nT" : "mV/km";
    c.start_us = first_us;
    c.end_us = any ? last_us : first_us;
    result.channels.push_back(c);
    std::cout << "wrote  " << writers[i]->path() << "  " << writers[i]->samples() << " samples, "
              << writers[i]->records() << " records, " << writers[i]->segments()
              << (writers[i]->segments() == 1 ? " segment\n" : " segments\n");
  }
  return result;
}

}  // namespace

void RunExport(const ExportOptions& options) {
  for (const auto& [code, what, min, max] :
       {std::tuple{options.network, "network", 1, 2}, std::tuple{options.location, "location", 0, 2}})
    if (auto why = CheckCode(code, what, min, max)) throw ToolError("export: " + *why);
  Recording recording(options.base);
  TsHandle* h = recording.get();
  SetConcatHT(h, options.concat ? 1 : 0);

  const std::string site = TableText(h, "SITE");
  std::string station;
  if (options.station) {
    station = *options.station;
    if (auto why = CheckCode(station, "station", 1, 5)) throw ToolError("export: " + *why);
  } else {
    station = StationFromSite(site);
    if (station.empty())
      throw ToolError(recording.base() + ".TBL: the site name \"" + site +
                      "\" gives no station code: choose one with --station");
  }

  // Plan every stream before writing anything, so that a refusal leaves no file.
  std::vector<int> streams = options.streams;
  const bool chosen = !streams.empty();
  if (!chosen)
    for (int k = 1; k <= 5; ++k) {
      int32_t probe = 0;
      if (ReadTagHT(h, k, 1, "SCNT", OLMTS_TYPE_INT32, &probe) != OLMTS_BAD_STREAM) streams.push_back(k);
    }
  if (streams.empty()) throw ToolError(recording.base() + ": no time-series stream to export");
  const std::vector<Component> components = Components(h);
  std::vector<StreamPlan> plans;
  std::map<std::string, int> codes;  // channel code -> stream
  for (int stream : std::set<int>(streams.begin(), streams.end())) {
    recording.RequireStream(stream);
    StreamPlan plan;
    plan.stream = stream;
    plan.rate_hz = TagRate(h, stream, 1);
    plan.channels = TagInt(h, stream, 1, "NCHN").value_or(0);
    plan.sample_bytes = TagInt(h, stream, 1, "LSMP").value_or(0);
    if (!(plan.rate_hz > 0)) throw ToolError(recording.Where(stream) + ": the first record gives no sample rate");
    if (plan.channels < 1 || plan.channels > 12 || plan.sample_bytes < 3 || plan.sample_bytes > 4)
      throw ToolError(recording.Where(stream) + ": scans of " + std::to_string(plan.channels) + " channels of " +
                      std::to_string(plan.sample_bytes) + "-byte samples cannot be exported");
    for (const Component& c : components) {
      if (c.channel > plan.channels) {
        std::cerr << "olmts: " << recording.Where(stream) << ": " << c.name << " is on channel " << c.channel
                  << " but the records hold " << plan.channels << " channels: not exported\n";
        continue;
      }
      plan.components.push_back(c);
      plan.codes.push_back(ChannelCode(plan.rate_hz, c));
      auto [it, fresh] = codes.emplace(plan.codes.back(), stream);
      if (!fresh)
        throw ToolError("export: streams " + std::to_string(it->second) + " and " + std::to_string(stream) +
                        " both give channel " + plan.codes.back() +
                        ": export them one at a time with different --location codes");
    }
    std::vector<bool> used(static_cast<std::size_t>(plan.channels), false);
    for (const Component& c : plan.components) used[static_cast<std::size_t>(c.channel - 1)] = true;
    for (int n = 1; n <= plan.channels; ++n)
      if (!used[static_cast<std::size_t>(n - 1)])
        std::cerr << "olmts: " << recording.Where(stream) << ": channel " << n
                  << " carries no component in the table: not exported\n";
    if (plan.components.empty()) throw ToolError(recording.Where(stream) + ": no component to export");
    plans.push_back(plan);
  }

  std::unique_ptr<InstrumentChain> chain;
  if (!options.box.empty())
    chain = std::make_unique<InstrumentChain>(recording, options.box, options.sensors, options.chain);
  if (chain)
    for (const StreamPlan& plan : plans) chain->Prepare(plan.stream);

  std::error_code ec;
  std::filesystem::create_directories(options.out, ec);
  if (ec) throw ToolError(options.out + ": cannot create the output folder: " + ec.message());

  std::cout << "station " << station;
  if (!options.station) std::cout << " (from the site name \"" << site << "\"; --station chooses another)";
  std::cout << "\n";

  std::vector<std::string> complete;
  StationDescription description;
  description.network = options.network;
  description.station = station;
  description.site_name = site;
  description.latitude = TableDouble(h, "LAT");
  description.longitude = TableDouble(h, "LON");
  description.elevation = TableDouble(h, "ELEV");
  description.hardware = TableText(h, "HW");
  description.board = TableText(h, "VER");
  std::vector<std::string> problems;
  try {
    for (const StreamPlan& plan : plans) {
      StreamResult result = ExportStream(recording, plan, options, station, complete);
      if (result.problem) problems.push_back(*result.problem);
      for (std::size_t i = 0; i < result.channels.size(); ++i) {
        ChannelDescription& c = result.channels[i];
        if (chain) chain->Describe(plan.stream, plan.components[i], c);
        description.channels.push_back(std::move(c));
      }
    }
    OutputFile xml((std::filesystem::path(options.out) / "station.xml").string());
    const std::string text = StationXml(description);
    xml.Write(text.data(), text.size());
    xml.Commit();
    complete.push_back(xml.path());
    std::cout << "wrote  " << xml.path() << "  " << description.channels.size() << " channels"
              << (chain ? " with responses" : ", without responses (no --box)") << "\n";
  } catch (const ToolError& e) {
    std::string list;
    for (const std::string& f : complete) list += "\n  " + f;
    throw ToolError(std::string(e.what()) + "\nexport stopped; " +
                    (complete.empty() ? "no file is complete" : "complete files:" + list));
  }
  for (const std::string& p : problems) {
    std::cerr << "olmts: " << p << '\n';
    NoteReadProblem();
  }
}

}  // namespace olmts

#endif  // OLMTS_HAVE_EXPORT

// `tags`: every field of every record tag of a stream.
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

const char* const kTagFields[] = {"SNUM", "SCNT",  "NCHN",  "LTAG",  "STAT",  "SATC",  "LSMP",  "RATE",  "RUNT", "CLST",
                                  "TERR", "SBREC", "WINDX", "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"};

void RunTags(const StreamWalkOptions& options) {
  Recording recording(options.base);
  StreamWalk walk(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  if (!options.json) {
    std::cout << "record,UTC";
    for (const char* f : kTagFields) std::cout << ',' << f;
    std::cout << '\n';
  }
  long long record = 0;
  int32_t status;
  Json rows = Json::array();
  for (;;) {
    walk.BeforeRecord();
    if ((status = SkipRecHT(h, options.stream)) != OLMTS_OK) break;
    walk.Consumed();
    const auto utc = TagTime(h, options.stream, 0);
    if (options.json) {
      Json row{{"record", record++}, {"UTC", utc ? Json(FormatTime(*utc)) : Json()}};
      // A field the tag does not have (CLST in the shorter tags) is null.
      for (const char* f : kTagFields) {
        const auto v = TagInt(h, options.stream, 0, f);
        row[f] = v ? Json(*v) : Json();
      }
      rows.push_back(row);
      continue;
    }
    std::cout << record++ << ',' << (utc ? FormatTime(*utc) : "");
    for (const char* f : kTagFields) {
      std::cout << ',';
      // CLST exists only in the longer tags; an empty cell says so.
      if (auto v = TagInt(h, options.stream, 0, f)) std::cout << *v;
    }
    std::cout << '\n';
  }
  const bool complete = walk.Finish(status);
  if (options.json)
    std::cout << Json{{"base", recording.base()},
                      {"stream", options.stream},
                      {"records", rows},
                      {"complete", complete},
                      {"problems", walk.problems()}}
                     .dump(2)
              << '\n';
}

}  // namespace

void AddTagsCommand(CLI::App& app) {
  const auto [command, options] = AddSubcommand(app, "tags", "the tag fields of each record of a stream", RunTags);
  AddStreamWalkOptions(command, options);
}

}  // namespace olmts

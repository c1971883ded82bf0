// `tags`: every field of every record tag of a stream.
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/stream_walk.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct TagsOptions {
  std::string base;
  int stream = 1;
  bool concat = false;
};

const char* const kTagFields[] = {"SNUM", "SCNT",  "NCHN",  "LTAG",  "STAT",  "SATC",  "LSMP",  "RATE",  "RUNT", "CLST",
                                  "TERR", "SBREC", "WINDX", "WISCN", "LEVTP", "LEVAL", "NFRQT", "NFRQD", "NFREQ"};

void RunTags(const TagsOptions& options) {
  Recording recording(options.base);
  PrepareStream(recording, options.stream, options.concat);
  TsHandle* h = recording.get();
  std::cout << "record,UTC";
  for (const char* f : kTagFields) std::cout << ',' << f;
  std::cout << '\n';
  long long record = 0;
  int32_t status;
  while ((status = SkipRecHT(h, options.stream)) == OLMTS_OK) {
    const auto utc = TagTime(h, options.stream, 0);
    std::cout << record++ << ',' << (utc ? FormatTime(*utc) : "");
    for (const char* f : kTagFields) {
      std::cout << ',';
      // CLST exists only in the longer tags; an empty cell says so.
      if (auto v = TagInt(h, options.stream, 0, f)) std::cout << *v;
    }
    std::cout << '\n';
  }
  CheckEnd(recording, options.stream, status, record);
}

}  // namespace

void AddTagsCommand(CLI::App& app) {
  auto options = std::make_shared<TagsOptions>();
  CLI::App* command = app.add_subcommand("tags", "the tag fields of each record of a stream");
  AddBase(command, &options->base);
  AddStream(command, &options->stream);
  AddConcat(command, &options->concat);
  command->callback([options] { RunTags(*options); });
}

}  // namespace olmts

// `params`: every table parameter with type, value and auxiliary fields.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/tool.h"

namespace olmts {
namespace {

struct ParamsOptions {
  std::string base;
  bool json = false;
};

const char* TypeName(int type) {
  switch (type) {
    case OLMTS_TYPE_INT32:
      return "int32";
    case OLMTS_TYPE_DOUBLE:
      return "double";
    case OLMTS_TYPE_TEXT16:
      return "text16";
    case OLMTS_TYPE_NONE:
      return "none";
    case OLMTS_TYPE_TEXT:
      return "text";
    case OLMTS_TYPE_TIMESTAMP:
      return "time";
    default:
      return "unknown";
  }
}

// The value of a parameter as text; a JSON value beside it.
std::pair<std::string, Json> ParamValue(TsHandle* h, const char* name, int type) {
  switch (type) {
    case OLMTS_TYPE_INT32: {
      int32_t v = 0;
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {std::to_string(v), v};
      break;
    }
    case OLMTS_TYPE_DOUBLE: {
      double v = 0;
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {Number(v), JsonNumber(v)};
      break;
    }
    case OLMTS_TYPE_TEXT16:
    case OLMTS_TYPE_TEXT: {
      char v[17] = {};
      if (ReadPrmHT(h, name, type, v) == OLMTS_OK) return {Text16(v), Text16(v)};
      break;
    }
    case OLMTS_TYPE_TIMESTAMP: {
      TimeStamp v{};
      if (ReadPrmHT(h, name, type, &v) == OLMTS_OK) return {FormatTime(v), FormatTime(v)};
      break;
    }
    default:
      break;
  }
  return {"-", Json()};
}

void RunParams(const ParamsOptions& options) {
  Recording recording(options.base);
  TsHandle* h = recording.get();
  char name_bytes[9] = {};
  const int count = GCodePrmHT(h, -1, name_bytes) - OLMTS_PARAM_COUNT_BASE;
  Json list = Json::array();
  if (!options.json)
    std::printf("%-8s  %-6s  %-20s  %10s  %5s  %5s\n", "name", "type", "value", "info", "byte1", "byte2");
  for (int i = 0; i < count; ++i) {
    std::memset(name_bytes, 0, sizeof name_bytes);
    GCodePrmHT(h, i, name_bytes);  // 8 bytes, not terminated when all are used
    char type = 0;
    int32_t word = 0, byte1 = 0, byte2 = 0;
    Check(ReadPrmInfoHT(h, name_bytes, &type, &word, &byte1, &byte2),
          recording.base() + ".TBL: parameter " + name_bytes);
    const auto [text, value] = ParamValue(h, name_bytes, static_cast<unsigned char>(type));
    if (options.json) {
      list.push_back({{"name", name_bytes},
                      {"type", TypeName(static_cast<unsigned char>(type))},
                      {"type_code", static_cast<unsigned char>(type)},
                      {"value", value},
                      {"info_word", word},
                      {"info_byte1", byte1},
                      {"info_byte2", byte2}});
    } else {
      std::printf("%-8s  %-6s  %-20s  %10d  %5d  %5d\n", name_bytes, TypeName(static_cast<unsigned char>(type)),
                  text.c_str(), word, byte1, byte2);
    }
  }
  if (options.json) std::cout << Json{{"base", options.base}, {"parameters", list}}.dump(2) << '\n';
}

}  // namespace

void AddParamsCommand(CLI::App& app) {
  const auto [command, options] =
      AddSubcommand(app, "params", "every table parameter with type, value and auxiliary fields", RunParams);
  AddBase(command, &options->base);
  AddJson(command, &options->json);
}

}  // namespace olmts

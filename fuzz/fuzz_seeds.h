// Seed inputs of the fuzz targets, built with the test-data writer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "writer/bytes_io.h"

namespace olmtsfil::fuzz {

struct SeedSet {
  std::string target;  // "table", "recording", "calibration"
  std::vector<testdata::Bytes> seeds;
};

std::vector<SeedSet> AllSeeds();

// A multi-file input: the length header, the files (nullopt: absent), then `tail`.
testdata::Bytes MultiFileInput(const std::vector<std::optional<testdata::Bytes>>& files, const testdata::Bytes& tail);

}  // namespace olmtsfil::fuzz

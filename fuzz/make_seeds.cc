// Writes the seed corpora of the fuzz targets from the test-data writer:
//   make_seeds FOLDER  ->  FOLDER/table/*, FOLDER/recording/*, FOLDER/calibration/*
// Seeds are valid files (and a few near-valid ones) in the input layouts of the
// targets, so fuzzing starts from the shapes real recorders write.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_seeds.h"
#include "writer/bytes_io.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path root = argv[1];
  std::size_t written = 0;
  for (const olmtsfil::fuzz::SeedSet& set : olmtsfil::fuzz::AllSeeds()) {
    const fs::path folder = root / set.target;
    fs::create_directories(folder);
    for (std::size_t i = 0; i < set.seeds.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "seed-%03zu", i);
      olmtsfil::testdata::WriteFile((folder / name).string(), set.seeds[i]);
      ++written;
    }
  }
  std::printf("wrote %zu seeds below %s\n", written, root.string().c_str());
  return 0;
}

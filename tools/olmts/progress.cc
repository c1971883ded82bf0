#include "olmts/progress.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define OLMTS_ISATTY _isatty
#define OLMTS_FILENO _fileno
#else
#include <unistd.h>
#define OLMTS_ISATTY isatty
#define OLMTS_FILENO fileno
#endif

namespace olmts {

Progress::Progress(long long total)
    : total_(total), enabled_(OLMTS_ISATTY(OLMTS_FILENO(stderr)) != 0), start_(Clock::now()), last_(start_) {}

Progress::~Progress() {
  if (drawn_) std::fprintf(stderr, "\r%60s\r", "");
}

void Progress::Update(long long done) {
  if (!enabled_ || (done & 1023) != 0) return;  // the clock is not free either
  const Clock::time_point now = Clock::now();
  if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  drawn_ = true;
  if (total_ <= 0) {
    std::fprintf(stderr, "\r%lld scans", done);
  } else {
    const int percent = static_cast<int>(done * 100 / total_);
    const int width = 40, filled = percent * width / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled, "",
                 percent);
  }
  std::fflush(stderr);
}

}  // namespace olmts

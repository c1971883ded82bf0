// Spectral (".TFC") files: records of Fourier coefficients, one scan per
// coefficient holding the real and the imaginary part of every channel, laid out
// in the recorder's level cycle and numbered by its window counter.
//
// A cycle of C = (LEVAL - LEVTP + 1) x NFRQD + NFRQT scans carries, in order:
//   level LEVTP        NFRQT coefficients, frequency indices 0 ... NFRQT - 1
//   level LEVTP + m    NFRQD coefficients each (m = 1 ... LEVAL - LEVTP)
//   a carry level      NFRQD coefficients of the level picked by the window counter:
//                      LEVAL + 1 every second cycle, LEVAL + 2 every fourth, ...
// Scan p of a record belongs to cycle p / C of that record; the record's first
// cycle has window number WINDX with its low LEVAL + 1 bits cleared, and every
// cycle adds 2^(LEVAL + 1). A filler scan (first sample 00 00 80) takes the place
// of a coefficient that the recorder did not deliver.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "writer/bytes_io.h"
#include "writer/stream_writer.h"

namespace olmtsfil::testdata {

// Where a coefficient sits in the cycle; what a reader must report for it.
struct DftPosition {
  int32_t window = 0;
  int32_t level = 0;
  int32_t freq_index = 0;
};

struct DftCoefficient {
  int record = 0;  // 0-based record number in the file
  int scan = 0;    // position of the scan in its record
  DftPosition position;
  std::vector<int32_t> real;  // per channel, 24-bit values
  std::vector<int32_t> imag;
};

struct SpectralFile {
  Bytes bytes;
  std::vector<DftCoefficient> coefficients;  // in file order, fillers left out
  std::vector<int32_t> record_windx;         // WINDX written in each record's tag
};

// Layout and cycles of a spectral file. `tag` carries LEVTP, LEVAL, NFRQT, NFRQD,
// WISCN, RATE, RUNT, NCHN, LSMP, SCNT and the first record's WINDX; kind 15 and
// a tag of at least 43 bytes make it a spectral tag.
struct SpectralSpec {
  TagSpec tag;
  int records = 1;
  // Scans to write as fillers, by record and position.
  std::function<bool(int record, int scan)> is_filler;
  // Seconds between record starts.
  int record_seconds = 1;
};

// A spectral tag with the given layout: kind 15, 60-byte tag, 6-byte samples
// (3 bytes real, 3 bytes imaginary), NCHN channels, `cycles` whole cycles per
// record, WINDX = 2^LEVTP.
TagSpec SpectralTag(int levtp, int leval, int nfrqt, int nfrqd, int nchn = 2, int cycles = 1);

// Scans per cycle of the layout.
int CycleLength(const TagSpec& tag);

// The position of scan `scan` of a record whose tag has `windx`, from the cycle
// structure above (counted group by group, not with the reader's arithmetic).
DftPosition PositionInCycle(const TagSpec& tag, int32_t windx, int scan);

// Coefficient values: distinct per window, level, index and channel, well inside
// full scale (never the filler value).
int32_t CoefficientReal(const DftPosition& p, int channel);
int32_t CoefficientImag(const DftPosition& p, int channel);

SpectralFile EncodeSpectralStream(const SpectralSpec& desc);

}  // namespace olmtsfil::testdata

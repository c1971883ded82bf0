// Conversion of scans in fractions of full scale to the physical units of a
// chain: a scalar per channel (nominal), or the whole response removed in the
// frequency domain over overlapping blocks (deconvolved).
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "units/chain.h"

namespace olmtsfil::units {

struct ConvertOptions {
  double fmin_hz = 0;
  double fmax_hz = 0;
  int32_t block = 0;
  int32_t threads = 0;  // deconvolution: 0 the machine's cores, 1 the caller's thread only
};

class Converter {
 public:
  virtual ~Converter() = default;
  virtual int32_t Push(const double* values, int64_t scans) = 0;
  virtual int32_t Finish() = 0;
  // Makes the run about to begin give only its scans [first, end) (end < 0: to
  // the run's end), fed from the run's scan *from on; pushing up to *to (-1: to
  // the end) makes every one of them ready. Refused once the run has scans.
  virtual int32_t Start(int64_t first, int64_t end, int64_t* from, int64_t* to) = 0;
  int64_t Pull(double* out, int64_t capacity);
  int channels() const { return channels_; }
  double fmin() const { return fmin_; }
  double fmax() const { return fmax_; }
  int32_t block() const { return block_; }

 protected:
  int channels_ = 0;
  double fmin_ = 0, fmax_ = 0;
  int32_t block_ = 0;
  // Makes room to append scans to ready_: drops what was pulled.
  void Compact();

  std::vector<double> ready_;   // scans x channels, oldest first, from ready_head_ on
  std::size_t ready_head_ = 0;  // values of ready_ already pulled
};

// Status 0 with a new converter in *out, or the reason none can be made.
int32_t MakeNominalConverter(Chain& chain, std::unique_ptr<Converter>* out);
int32_t MakeDeconvolvingConverter(Chain& chain, const ConvertOptions& options, std::unique_ptr<Converter>* out);

// The default band of a deconvolution and its FFT length, from the chain's
// calibrated frequencies and the stream's rate (docs/units.md).
struct Band {
  double fmin = 0, fmax = 0;
  int32_t block = 0;
};
int32_t ChooseBand(const Chain& chain, const ConvertOptions& options, Band* band);

}  // namespace olmtsfil::units

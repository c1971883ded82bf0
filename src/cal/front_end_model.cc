#include "cal/front_end_model.h"

namespace olmtsfil {

Complex InterpolateSlot(const FrontEndModel& model, int nchn, int slot, double freq_hz, int channel) {
  if (slot < 0 || slot >= model.slot_count || !model.slot_frequency || !model.slot_value) return Complex{0.0, 0.0};
  const int a = model.slot_start[static_cast<std::size_t>(slot)];
  const int e = model.slot_start[static_cast<std::size_t>(slot) + 1] - 1;
  const double* frequency = model.slot_frequency.get();
  auto value = [&](int point) { return model.slot_value[static_cast<std::size_t>(point * nchn + channel)]; };
  if (e <= a) return e == a ? value(a) : Complex{0.0, 0.0};  // never built so, but never read outside

  int k = a + 1;
  while (k < e && !(freq_hz <= frequency[k])) ++k;
  double width = frequency[k] - frequency[k - 1];
  double r;
  if (width == 0.0) {
    // Two points at one frequency: the later one holds from that frequency on.
    r = freq_hz >= frequency[k] ? 1.0 : 0.0;
  } else {
    r = (freq_hz - frequency[k - 1]) / width;
  }
  if (r > 1.0) r = 1.0;
  Complex lower = value(k - 1);
  Complex upper = value(k);
  Complex result{(1.0 - r) * lower.re + r * upper.re, (1.0 - r) * lower.im + r * upper.im};
  if (r < 0.0) result.im = (1.0 + r) * lower.im;
  return result;
}

}  // namespace olmtsfil

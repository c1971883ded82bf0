#include "response/front_end_eval.h"

#include <algorithm>

namespace olmtsfil {
namespace {

using namespace circuit;

constexpr double kTwoPi = 6.283185307179586;
// The bootstrap factor's limit, held in single precision where it was measured.
constexpr double kBootstrapLimit = static_cast<double>(0.999f);  // 0.9990000128746033

// Read access to one calibration's fitted model with its channel count.
struct ModelView {
  const FrontEndModel& model;
  int nchn;

  double Element(int k, int c) const { return model.Element(k, c, nchn); }
  Complex Slot(int slot, double f, int c) const { return InterpolateSlot(model, nchn, slot, f, c); }
};

// The input resistance and capacitance are settings of the evaluation, not
// elements of the fitted model, so the model stays read-only.
Complex InputFilterStage(const ModelView& view, double f, int32_t filter_code, double input_resistance,
                         double input_capacitance, int c) {
  double w = kTwoPi * f;
  if (!(w > 1e-6)) w = 1e-6;
  double r1 = input_resistance > 1.0 ? input_resistance : 1.0;
  double x = w * input_capacitance;
  if (!(x > 1e-9)) x = 1e-9;
  Complex z2 = Reciprocal(Imag(x));

  Complex zf;
  if (filter_code & 0x40) {  // resonant branch in parallel with the second branch
    double r16 = std::max(view.Element(kR16, c), 1.0);
    Complex za = Add(Add(Add(Real(view.Element(kR9, c)), Imag(w * view.Element(kL8, c))),
                         Reciprocal(Imag(w * view.Element(kC15, c)))),
                     Real(r16));
    Complex zb = Add(Real(view.Element(kR11, c)), Imag(w * view.Element(kL10, c)));
    zf = Add(Real(view.Element(kR12, c)), Reciprocal(Add(Reciprocal(za), Reciprocal(zb))));
  } else if (filter_code & 0x80) {
    zf = Add(Real(view.Element(kR12, c) + view.Element(kR11, c)), Imag(w * view.Element(kL10, c)));
  } else {
    zf = Add(Real(view.Element(kR12, c) + view.Element(kR9, c)), Imag(w * view.Element(kL8, c)));
  }
  Complex z14 = Reciprocal(Imag(w * view.Element(kC14, c)));
  Complex zl = Imag(w * view.Element(kL13, c));

  double cs = 0.0;
  switch (filter_code & 7) {
    case 0:
      break;
    case 1:
      cs = view.Element(kC4, c);
      break;
    case 2:
      cs = view.Element(kC5, c);
      break;
    case 3:
      cs = view.Element(kC4, c) + view.Element(kC5, c);
      break;
    case 4:
      cs = view.Element(kC6, c);
      break;
    case 5:
      cs = view.Element(kC4, c) + view.Element(kC5, c) + view.Element(kC6, c);
      break;
    case 6:
      cs = view.Element(kC7, c);
      break;
    default:
      cs = view.Element(kC4, c) + view.Element(kC5, c) + view.Element(kC6, c) + view.Element(kC7, c);
      break;
  }
  cs += view.Element(kC3, c);
  if (!(cs > 1e-12)) cs = 1e-12;

  Complex kb = Real(0.0);
  int selector = (filter_code & 0x30) / 16;
  if (selector == 1) kb = view.Slot(6, f, c);
  if (selector == 2) kb = view.Slot(7, f, c);
  if (Magnitude(kb) > kBootstrapLimit) kb = Real(kBootstrapLimit);
  Complex zc = Divide(Reciprocal(Imag(w * cs)), Sub(Real(1.0), kb));

  // Three meshes: source and R1' with Z2; Z2, Zf and Z14; Z14, ZL and Zc.
  Complex q = Add(Real(r1), z2);
  Complex s = Add(Add(z2, zf), z14);
  Complex p = Add(Add(z14, zl), zc);
  Complex det = Sub(Sub(Mul(Mul(q, s), p), Mul(q, Mul(z14, z14))), Mul(Mul(z2, z2), p));
  if (!(Magnitude(det) > 1e-30)) return Real(0.0);
  return Divide(Mul(Mul(zc, z2), z14), det);
}

Complex CouplingStage(const ModelView& view, double f, int32_t coupling_code, int c) {
  Complex h = Real(1.0);
  if (f > 0.0) {
    if (coupling_code == 1) h = Reciprocal(Complex{1.0, -view.Element(kFc1, c) / f});
    if (coupling_code == 2) h = Reciprocal(Complex{1.0, -view.Element(kFc2, c) / f});
  }
  return h;
}

// Gain codes -1 ... 9 select slots 0 ... 10; any other code has no slot, and the
// channel's response is 0 (reported by the box response as unusable).
Complex GainStage(const ModelView& view, double f, int32_t gain_code, int32_t filter_code, int c) {
  if (gain_code < -1 || gain_code > FrontEndModel::kSlots - 2) return Real(0.0);
  Complex h = view.Slot(gain_code + 1, f, c);
  if (filter_code & 0x40) h = Mul(h, view.Slot(gain_code == 1 ? 5 : 4, f, c));
  return h;
}

}  // namespace

Status EvalFrontEnd(double freq_hz, const FrontEndSettings& settings, int nchn, const FrontEndModel& model,
                    Complex* out) {
  if (!model.Complete()) return Status::kNoModel;
  if (nchn < 1 || nchn > FrontEndModel::kMaxChannels) return Status::kNoModel;
  const ModelView view{model, nchn};
  for (int c = 0; c < nchn; ++c) {
    const auto ci = static_cast<std::size_t>(c);
    if (view.Element(kDisabled, c) != 0.0) {
      out[c] = Real(0.0);
      continue;
    }
    Complex input = InputFilterStage(view, freq_hz, settings.filter_code[ci], settings.input_resistance[ci],
                                     settings.input_capacitance[ci], c);
    Complex coupling = CouplingStage(view, freq_hz, settings.coupling_code[ci], c);
    Complex gain = GainStage(view, freq_hz, settings.gain_code[ci], settings.filter_code[ci], c);
    out[c] = Mul(Mul(input, coupling), gain);
  }
  return Status::kOk;
}

}  // namespace olmtsfil

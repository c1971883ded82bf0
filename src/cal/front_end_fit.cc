#include "cal/front_end_model.h"

#include <algorithm>
#include <cmath>

#include "cal/calibration.h"

namespace olmtsfil {
namespace {

using namespace circuit;

constexpr double kTwoPi = 6.283185307179586;
// The measurement software held its guards in single precision; the widened
// value keeps the fit's switching points where the calibrations expect them.
constexpr double kSmall = static_cast<double>(0.001f);  // 0.0010000000474974513

// Defaults of rows 0 ... 16 and 19 (rows 17 and 18 come from the file).
constexpr double kDefaults[FrontEndModel::kElements] = {0.0,     0.0,    0.0,   3.3e-9, 1e-8,  3.3e-8, 1e-7,
                                                        3.3e-7,  0.001,  55.0,  0.01,   137.0, 424.0,  0.00022,
                                                        3.3e-10, 5.6e-9, 100.0, 0.0,    0.0,   297.0};

// Thevenin form of the output network: a source behind R19 with C14 across it
// and L13 in series.
struct Thevenin {
  Complex h1;   // open-circuit transfer
  Complex zth;  // source impedance seen by the output capacitors
};

// Access to one calibration's model with its channel count.
class ModelView {
 public:
  ModelView(FrontEndModel& model, int nchn) : m_(model), nchn_(nchn) {}

  double& Element(int k, int c) { return m_.component_values[static_cast<std::size_t>(k * nchn_ + c)]; }
  double& Frequency(int point) { return m_.slot_frequency[static_cast<std::size_t>(point)]; }
  Complex& Value(int point, int c) { return m_.slot_value[static_cast<std::size_t>(point * nchn_ + c)]; }
  int First(int slot) const { return m_.slot_start[static_cast<std::size_t>(slot)]; }
  int End(int slot) const { return m_.slot_start[static_cast<std::size_t>(slot) + 1]; }
  int nchn() const { return nchn_; }
  FrontEndModel& model() { return m_; }

  Thevenin OutputNetwork(double omega, int c) {
    Complex den = {1.0, omega * Element(kC14, c) * Element(kR19, c)};
    Complex h1 = Divide(Real(1.0), den);
    Complex zth = Add(Divide(Real(Element(kR19, c)), den), Imag(omega * Element(kL13, c)));
    return {h1, zth};
  }

 private:
  FrontEndModel& m_;
  int nchn_;
};

// The calibration tables with their bounds made safe: a file of more than 500
// records has no end entry after its last table, whose end is then the last
// record read.
class TableSource {
 public:
  explicit TableSource(const Calibration& cal) : cal_(cal) {
    int entries = std::clamp(cal.table_count, 0, Calibration::kTableStartSlots);
    has_end_entry_ = entries > 0 && cal.table_start[static_cast<std::size_t>(entries) - 1] >= cal.record_count;
    tables_ = has_end_entry_ ? entries - 1 : entries;
  }
  int tables() const { return tables_; }
  int Begin(int t) const { return std::clamp(cal_.TableBegin(t), 0, RecordCount()); }
  int End(int t) const {
    int end = t + 1 < tables_ || has_end_entry_ ? cal_.TableEnd(t) : RecordCount();
    return std::clamp(end, Begin(t), RecordCount());
  }
  int Records(int t) const { return End(t) - Begin(t); }
  const Calibration& cal() const { return cal_; }

 private:
  int RecordCount() const { return std::clamp(cal_.record_count, 0, Calibration::kMaxRecords); }
  const Calibration& cal_;
  bool has_end_entry_ = false;
  int tables_ = 0;
};

class ModelBuilder {
 public:
  ModelBuilder(Calibration& cal, int nchn) : tables_(cal), view_(cal.model, nchn) {}

  bool Build();

 private:
  bool LoadSlot(int t, int j);
  void LoadCorners(int t, int k);
  void DivideSlot(int a, int b);
  void ModelOutputSlot(int s);
  void CalibrateCapacitor(int s, int k);
  void BootstrapSlot(int p, int q, int s);
  void SetDefaults();

  TableSource tables_;
  ModelView view_;
};

// Slot j := table t: a point at 0 Hz holding the real part of the first record's
// response, then one point per record. Refuses (false) a slot beyond the capacity.
bool ModelBuilder::LoadSlot(int t, int j) {
  FrontEndModel& m = view_.model();
  const Calibration& cal = tables_.cal();
  int begin = tables_.Begin(t);
  int records = tables_.Records(t);
  int first = view_.First(j);
  if (records < 1 || first + 1 + records > FrontEndModel::kPointCapacity) return false;
  view_.Frequency(first) = 0.0;
  for (int c = 0; c < view_.nchn(); ++c)
    view_.Value(first, c) = Real(static_cast<double>(cal.Block(begin, c).response.re));
  for (int r = 0; r < records; ++r) {
    int point = first + 1 + r;
    view_.Frequency(point) = static_cast<double>(cal.Frequency(begin + r));
    for (int c = 0; c < view_.nchn(); ++c) view_.Value(point, c) = ComplexFromFloats(cal.Block(begin + r, c).response);
  }
  m.slot_start[static_cast<std::size_t>(j) + 1] = first + 1 + records;
  m.slot_count = j + 1;
  return true;
}

void ModelBuilder::LoadCorners(int t, int k) {
  int record = tables_.Begin(t);
  for (int c = 0; c < view_.nchn(); ++c)
    view_.Element(k, c) = static_cast<double>(tables_.cal().Block(record, c).corner_frequency);
}

void ModelBuilder::DivideSlot(int a, int b) {
  for (int i = view_.First(a); i < view_.End(a); ++i) {
    for (int c = 0; c < view_.nchn(); ++c) {
      Complex v = InterpolateSlot(view_.model(), view_.nchn(), b, view_.Frequency(i), c);
      view_.Value(i, c) = Magnitude(v) > kSmall ? Divide(view_.Value(i, c), v) : Real(0.0);
    }
  }
}

// The response of the output network loaded by C3 alone, at the slot's own
// frequencies: the reference the measured gain tables are divided by.
void ModelBuilder::ModelOutputSlot(int s) {
  for (int i = view_.First(s); i < view_.End(s); ++i) {
    double omega = kTwoPi * view_.Frequency(i);
    for (int c = 0; c < view_.nchn(); ++c) {
      Thevenin net = view_.OutputNetwork(omega, c);
      Complex den = Add(Real(1.0), Mul(Imag(omega * view_.Element(kC3, c)), net.zth));
      view_.Value(i, c) = Magnitude(den) > kSmall ? Divide(net.h1, den) : Real(0.0);
    }
  }
}

// Fits capacitor k to slot s, the measured output-network response with that
// capacitor switched in, at the network's corner (or the slot's second-to-last
// frequency when the corner lies above it).
void ModelBuilder::CalibrateCapacitor(int s, int k) {
  double fm = view_.Frequency(view_.End(s) - 2);
  if (!(fm > 0.001)) fm = 0.001;
  for (int c = 0; c < view_.nchn(); ++c) {
    double& ck = view_.Element(k, c);
    if (!(ck > 0.0)) continue;
    double z = std::max(kTwoPi * view_.Element(kR19, c) * ck, 1.0 / fm);
    double f0 = 1.0 / z;
    double omega0 = kTwoPi / z;
    Complex v = InterpolateSlot(view_.model(), view_.nchn(), s, f0, c);
    Thevenin net = view_.OutputNetwork(omega0, c);
    Complex h1_minus_v = Sub(net.h1, v);
    if (Magnitude(v) > kSmall && Magnitude(h1_minus_v) > kSmall) {
      Complex w = Divide(Mul(net.zth, v), h1_minus_v);
      double fitted = -1.0 / (omega0 * w.im) - view_.Element(kC3, c);
      // A measurement that fits no positive, finite capacitance disables the
      // channel rather than let an infinite capacitor reach the input stage.
      if (fitted > 0.0 && std::isfinite(fitted)) {
        ck = fitted;
      } else {
        ck = 0.0;
        view_.Element(kDisabled, c) = 1.0;
      }
    } else {
      view_.Element(kDisabled, c) = 1.0;
    }
  }
}

// Slot s (the measured output-network response with capacitors p ... q switched
// in and bootstrapped) := the factor k with which those capacitors act as
// Ctot x (1 - k).
void ModelBuilder::BootstrapSlot(int p, int q, int s) {
  for (int i = view_.First(s); i < view_.End(s); ++i) {
    double omega = kTwoPi * view_.Frequency(i);
    for (int c = 0; c < view_.nchn(); ++c) {
      double sum = 0.0;
      for (int k = p; k <= q; ++k) sum += view_.Element(k, c);
      Complex& value = view_.Value(i, c);
      if (sum > 1e-12 && omega > kSmall) {
        double total = sum + view_.Element(kC3, c);
        Thevenin net = view_.OutputNetwork(omega, c);
        Complex h1_minus_v = Sub(net.h1, value);
        if (Magnitude(net.zth) > kSmall && Magnitude(value) > kSmall && Magnitude(h1_minus_v) > kSmall) {
          Complex r = Divide(Mul(net.zth, value), h1_minus_v);
          value = Sub(Real(1.0), Reciprocal(Mul(Imag(omega * total), r)));
        } else {
          view_.Element(kDisabled, c) = 1.0;
        }
      } else {
        value = Real(0.0);
      }
    }
  }
}

void ModelBuilder::SetDefaults() {
  const Calibration& cal = tables_.cal();
  for (int c = 0; c < view_.nchn(); ++c) {
    for (int k = 0; k < FrontEndModel::kElements; ++k) view_.Element(k, c) = kDefaults[k];
    int32_t flags = cal.channel_flags[static_cast<std::size_t>(c)];
    if (flags & 2) {  // variant without switchable capacitors and resonant branch
      view_.Element(kC4, c) = view_.Element(kC5, c) = view_.Element(kC6, c) = view_.Element(kC7, c) = 0.0;
      view_.Element(kL10, c) = 0.001;
      view_.Element(kR11, c) = 55.0;
      view_.Element(kR16, c) = 1e9;
    }
    if (flags & 1) view_.Element(kR12, c) = 332.0;
  }
}

bool ModelBuilder::Build() {
  FrontEndModel& m = view_.model();
  m.element_count = FrontEndModel::kElements;
  SetDefaults();
  LoadCorners(0, kFc1);
  LoadCorners(9, kFc2);

  m.slot_start[0] = 0;
  static constexpr int kInitialLoads[9][2] = {{4, 0}, {5, 1}, {6, 2}, {3, 3}, {7, 4}, {8, 5}, {13, 6}, {14, 7}, {3, 8}};
  for (const auto& load : kInitialLoads)
    if (!LoadSlot(load[0], load[1])) return false;
  ModelOutputSlot(8);  // slot 8 := M at the frequencies of table 3

  // Slot 4 is divided by slot 2 while slot 2 still holds table 6.
  static constexpr int kDivisions[6][2] = {{4, 2}, {5, 3}, {0, 8}, {1, 8}, {2, 8}, {3, 8}};
  for (const auto& division : kDivisions) DivideSlot(division[0], division[1]);

  static constexpr int kCapacitorTables[4][2] = {{9, kC4}, {10, kC5}, {11, kC6}, {12, kC7}};
  for (const auto& capacitor : kCapacitorTables) {
    if (!LoadSlot(capacitor[0], 8)) return false;
    DivideSlot(8, 3);
    CalibrateCapacitor(8, capacitor[1]);
  }

  DivideSlot(6, 3);
  DivideSlot(7, 3);
  BootstrapSlot(kC4, kC5, 6);
  BootstrapSlot(kC4, kC7, 7);

  if (!LoadSlot(5, 8) || !LoadSlot(6, 9) || !LoadSlot(3, 10)) return false;
  DivideSlot(10, 9);
  DivideSlot(9, 8);
  return true;
}

}  // namespace

void BuildFrontEndModel(Calibration& cal) {
  FrontEndModel& m = cal.model;
  m.element_count = 0;
  m.slot_count = 0;
  m.slot_start.fill(0);
  const int nchn = cal.ChannelCount();
  if (nchn < 1 || nchn > FrontEndModel::kMaxChannels || !m.slot_frequency || !m.slot_value) return;
  ModelBuilder builder(cal, nchn);
  // The build reads tables 0 ... 14; a box file with fewer has no model.
  static constexpr int kTablesNeeded = 15;
  if (TableSource(cal).tables() < kTablesNeeded || !builder.Build()) {
    m.element_count = 0;
    m.slot_count = 0;
  }
}

}  // namespace olmtsfil

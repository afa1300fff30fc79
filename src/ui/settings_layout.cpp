#include "ui/settings_layout.h"

namespace tarvex::ui {
namespace {

constexpr int kTwipsPerRow = 215;
// The labels' zone ends where the lists begin (the frame's left plus the
// lists' left); it gets 20 columns, room for "Port Available" and a gap.
constexpr int kLabelZoneTwips = 180 + 1350;
constexpr int kLabelZoneColumns = 20;
constexpr int kClientColumns = 76;

int RoundDiv(long numerator, long denominator) {
  return static_cast<int>((2 * numerator + denominator) / (2 * denominator));
}

DialogLayout Compute() {
  DialogLayout layout;
  layout.rows = TwipsToRow(frmSetting::kClientHeight) + 2;
  layout.cols = TwipsToColumn(frmSetting::kClientWidth) + 2;
  const ControlInfo& frame = frmSetting::Control(ControlId::kFrame1);
  for (const ControlInfo& c : frmSetting::Controls()) {
    const int left = c.left + (c.in_frame ? frame.left : 0);
    const int top = c.top + (c.in_frame ? frame.top : 0);
    CellBox box;
    box.col = TwipsToColumn(left) + 1;
    box.cols = TwipsToColumn(left + c.width) + 1 - box.col;
    if (c.kind == ControlKind::kFrame || c.kind == ControlKind::kPictureBox) {
      box.row = TwipsToRow(top) + 1;
      box.rows = TwipsToRow(top + c.height) + 1 - box.row;
    } else {
      box.row = TwipsToRow(top + c.height / 2) + 1;
      box.rows = 1;
    }
    // Buttons placed 75 twips apart would touch; keep a blank column between.
    if (c.kind == ControlKind::kCommandButton) --box.cols;
    layout.boxes[static_cast<size_t>(c.id)] = box;
  }
  return layout;
}

}  // namespace

int TwipsToColumn(int x) {
  if (x <= kLabelZoneTwips) return RoundDiv(long{x} * kLabelZoneColumns, kLabelZoneTwips);
  return kLabelZoneColumns +
         RoundDiv(long{x - kLabelZoneTwips} * (kClientColumns - kLabelZoneColumns),
                  frmSetting::kClientWidth - kLabelZoneTwips);
}

int TwipsToRow(int y) { return RoundDiv(y, kTwipsPerRow); }

const DialogLayout& SettingsDialogLayout() {
  static const DialogLayout layout = Compute();
  return layout;
}

}  // namespace tarvex::ui

// Where the settings dialog's controls fall on a character grid.  The dialog's
// layout is given in twips (frmSetting::Controls()); a terminal cell is far
// wider than a character of the dialog's 8-point font, so a uniform scale
// either overflows an 80-column terminal or runs the labels into the lists.
// The mapping therefore has two horizontal zones: the labels' zone, left of
// the lists, gets enough columns for the longest caption, and the rest of the
// window is scaled to fit 78 columns.  Vertically one row is 215 twips, and a
// one-line control sits on the row of its vertical centre, so that each label
// shares the row of the control it names.
//
// Pure computation; no terminal involved.
#pragma once

#include <array>

#include "config/frm_setting.h"

namespace tarvex::ui {

struct CellBox {
  int row = 0;  // top row
  int col = 0;  // left column
  int rows = 1;
  int cols = 1;
};

struct DialogLayout {
  // The whole window: a border of one cell around the client area, the
  // caption in the top border.
  int rows = 0;
  int cols = 0;
  // Every control, in the order of frmSetting::Controls(), relative to the
  // window's top-left cell.  Frame, picture: their outline; others: one row.
  std::array<CellBox, kControlCount> boxes{};

  const CellBox& Box(ControlId id) const { return boxes[static_cast<size_t>(id)]; }
};

// Client-area twips to columns and rows (border not included).
int TwipsToColumn(int x_twips);
int TwipsToRow(int y_twips);

const DialogLayout& SettingsDialogLayout();

}  // namespace tarvex::ui

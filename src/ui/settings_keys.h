// The keyboard behaviour of the settings dialog, apart from the terminal: the
// focus, the open drop-down list and the name field's cursor, and what each
// key does to them and to the frmSetting model.  The ncurses face turns its
// input into Key values and draws what this class holds.
//
// Keys:  Tab / Shift+Tab move through the enabled controls in tab order;
// Enter, Space, F4 or Alt+Down open a focused list, whose Up/Down/PgUp/PgDn/
// Home/End move the highlight, Enter or Space pick and Esc cancels; Up/Down on
// a closed list change its selection directly; Enter or Space press a focused
// button; Alt+A, Alt+R, Alt+C press Apply, Remove, Close from anywhere, and
// the plain letters do so when the focus is not in the name field; Esc (or
// Ctrl+C) leaves, like Close.  The name field takes any printable character
// and keeps it as UTF-8; Left, Right, Backspace and Delete act on whole
// characters, never on a part of one.
//
// One thread; borrows the model, which must outlive it.
#pragma once

#include <string>

#include "config/frm_setting.h"

namespace tarvex::ui {

struct Key {
  enum Type {
    kChar,  // a printable character, ch (a Unicode code point)
    kAlt,   // Alt (or Esc) + ch
    kTab,
    kBackTab,
    kEnter,
    kEscape,
    kUp,
    kDown,
    kPageUp,
    kPageDown,
    kHome,
    kEnd,
    kLeft,
    kRight,
    kBackspace,
    kDelete,
    kOpenList,   // F4
    kInterrupt,  // Ctrl+C
  };
  Type type;
  char32_t ch = 0;
};

class SettingsKeys {
 public:
  // Entries a drop-down shows at once before it scrolls.
  static constexpr int kDropDownRows = 8;

  explicit SettingsKeys(frmSetting& form);

  // Acts on one key.  Returns false when the key did nothing (the face may
  // beep).
  bool Handle(const Key& key);

  ControlId focus() const { return focus_; }
  // The list whose drop-down is open, or none.
  bool ListOpen() const { return open_; }
  int Highlight() const { return highlight_; }
  // The first entry the open drop-down shows.
  int ScrollTop() const { return scroll_top_; }
  // The name field's cursor, in bytes of its UTF-8 text from its start;
  // always at the start of a character.
  size_t Cursor() const { return cursor_; }

  // The list control `id` stands for (nullptr for other controls).
  const frmSetting::ComboList* List(ControlId id) const;

 private:
  bool HandleOpenList(const Key& key);
  bool HandleTextBox(const Key& key);
  bool HandleList(const Key& key);
  bool PressAccessKey(char32_t letter);
  bool Select(ControlId id, int index);
  void MoveFocus(int step);
  // Keeps the focus on an enabled control after the model changed.
  void FixFocus();
  void SetFocus(ControlId id);
  void MoveHighlight(int to);

  frmSetting& form_;
  ControlId focus_ = ControlId::kCboModemID;
  bool open_ = false;
  int highlight_ = 0;
  int scroll_top_ = 0;
  size_t cursor_ = 0;
};

}  // namespace tarvex::ui

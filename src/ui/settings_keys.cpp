#include "ui/settings_keys.h"

#include <algorithm>
#include <vector>

#include "common/text.h"

namespace tarvex::ui {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t CountChars(const std::string& text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

// What a text box accepts: no control characters (C0, DEL, C1), nothing that
// is not a character at all (surrogate halves, beyond U+10FFFF).
bool IsTypeable(char32_t c) {
  return c >= 0x20 && !(c >= 0x7F && c <= 0x9F) && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
}

}  // namespace

SettingsKeys::SettingsKeys(frmSetting& form) : form_(form) { FixFocus(); }

const frmSetting::ComboList* SettingsKeys::List(ControlId id) const {
  switch (id) {
    case ControlId::kCboModemID:
      return &form_.cboModemID();
    case ControlId::kCboCommPort:
      return &form_.cboCommPort();
    case ControlId::kCboBaudRate:
      return &form_.cboBaudRate();
    default:
      return nullptr;
  }
}

bool SettingsKeys::Handle(const Key& key) {
  bool handled = false;
  if (key.type == Key::kInterrupt) {
    open_ = false;
    handled = form_.Press(frmSetting::kClose);
  } else if (open_) {
    handled = HandleOpenList(key);
  } else if (key.type == Key::kTab || key.type == Key::kBackTab) {
    MoveFocus(key.type == Key::kTab ? 1 : -1);
    handled = true;
  } else if (key.type == Key::kEscape) {
    handled = form_.Press(frmSetting::kClose);
  } else if (key.type == Key::kAlt) {
    handled = PressAccessKey(key.ch);
  } else if (focus_ == ControlId::kTxtDeviceName) {
    handled = HandleTextBox(key);
  } else if (List(focus_) != nullptr) {
    handled = HandleList(key);
  } else if (key.type == Key::kEnter || (key.type == Key::kChar && key.ch == ' ')) {
    handled = form_.Press(frmSetting::Control(focus_).index);
  } else if (key.type == Key::kChar) {
    handled = PressAccessKey(key.ch);
  }
  FixFocus();
  return handled;
}

bool SettingsKeys::HandleOpenList(const Key& key) {
  const int last = static_cast<int>(List(focus_)->entries.size()) - 1;
  switch (key.type) {
    case Key::kUp:
      MoveHighlight(highlight_ - 1);
      return true;
    case Key::kDown:
      MoveHighlight(highlight_ + 1);
      return true;
    case Key::kPageUp:
      MoveHighlight(highlight_ - kDropDownRows);
      return true;
    case Key::kPageDown:
      MoveHighlight(highlight_ + kDropDownRows);
      return true;
    case Key::kHome:
      MoveHighlight(0);
      return true;
    case Key::kEnd:
      MoveHighlight(last);
      return true;
    case Key::kEnter:
      open_ = false;
      return Select(focus_, highlight_);
    case Key::kChar:
      if (key.ch != ' ') return false;
      open_ = false;
      return Select(focus_, highlight_);
    case Key::kEscape:
      open_ = false;
      return true;
    case Key::kTab:
    case Key::kBackTab:
      open_ = false;
      MoveFocus(key.type == Key::kTab ? 1 : -1);
      return true;
    case Key::kAlt:
      open_ = false;
      return PressAccessKey(key.ch);
    default:
      return false;
  }
}

bool SettingsKeys::HandleList(const Key& key) {
  const frmSetting::ComboList& list = *List(focus_);
  const int last = static_cast<int>(list.entries.size()) - 1;
  const int current = list.list_index;
  switch (key.type) {
    case Key::kEnter:
    case Key::kOpenList:
      open_ = true;
      scroll_top_ = 0;
      MoveHighlight(std::max(current, 0));
      return true;
    case Key::kChar:
      if (key.ch == ' ') return Handle({Key::kEnter});
      return PressAccessKey(key.ch);
    case Key::kUp:
      return current > 0 && Select(focus_, current - 1);
    case Key::kDown:
      return current < last && Select(focus_, current + 1);
    case Key::kPageUp:
      return current > 0 && Select(focus_, std::max(current - kDropDownRows, 0));
    case Key::kPageDown:
      return current < last && Select(focus_, std::min(current + kDropDownRows, last));
    case Key::kHome:
      return current != 0 && Select(focus_, 0);
    case Key::kEnd:
      return current != last && Select(focus_, last);
    default:
      return false;
  }
}

bool SettingsKeys::HandleTextBox(const Key& key) {
  std::string text = form_.txtDeviceName();
  cursor_ = std::min(cursor_, text.size());
  switch (key.type) {
    case Key::kChar: {
      // The text box's length limit stops the typing.
      if (!IsTypeable(key.ch) || CountChars(text) >= frmSetting::kDeviceNameMaxLength) {
        return false;
      }
      const std::string bytes = EncodeUtf8(key.ch);
      text.insert(cursor_, bytes);
      form_.SetDeviceName(text);
      cursor_ += bytes.size();
      return true;
    }
    case Key::kBackspace: {
      if (cursor_ == 0) return false;
      size_t start = cursor_ - 1;
      while (start > 0 && IsContinuation(text[start])) --start;
      text.erase(start, cursor_ - start);
      form_.SetDeviceName(text);
      cursor_ = start;
      return true;
    }
    case Key::kDelete: {
      if (cursor_ >= text.size()) return false;
      size_t end = cursor_ + 1;
      while (end < text.size() && IsContinuation(text[end])) ++end;
      text.erase(cursor_, end - cursor_);
      form_.SetDeviceName(text);
      return true;
    }
    case Key::kLeft:
      if (cursor_ == 0) return false;
      do --cursor_;
      while (cursor_ > 0 && IsContinuation(text[cursor_]));
      return true;
    case Key::kRight:
      if (cursor_ >= text.size()) return false;
      do ++cursor_;
      while (cursor_ < text.size() && IsContinuation(text[cursor_]));
      return true;
    case Key::kHome:
      cursor_ = 0;
      return true;
    case Key::kEnd:
      cursor_ = text.size();
      return true;
    default:
      return false;
  }
}

bool SettingsKeys::PressAccessKey(char32_t letter) {
  const char32_t upper = (letter >= 'a' && letter <= 'z') ? letter - 'a' + 'A' : letter;
  for (const ControlInfo& c : frmSetting::Controls()) {
    if (c.access_key != 0 && static_cast<char32_t>(c.access_key) == upper) {
      if (!form_.IsEnabled(c.id)) return false;
      SetFocus(c.id);  // as a toolkit does, the pressed button takes the focus
      return form_.Press(static_cast<int16_t>(c.index));
    }
  }
  return false;
}

bool SettingsKeys::Select(ControlId id, int index) {
  switch (id) {
    case ControlId::kCboModemID:
      return form_.SelectModemID(index);
    case ControlId::kCboCommPort:
      return form_.SelectCommPort(index);
    case ControlId::kCboBaudRate:
      return form_.SelectBaudRate(index);
    default:
      return false;
  }
}

void SettingsKeys::MoveFocus(int step) {
  const std::vector<ControlId> order = frmSetting::TabOrder();
  const int n = static_cast<int>(order.size());
  int at = static_cast<int>(std::find(order.begin(), order.end(), focus_) - order.begin());
  for (int tries = 0; tries < n; ++tries) {
    at = ((at + step) % n + n) % n;
    if (form_.IsEnabled(order[static_cast<size_t>(at)])) {
      SetFocus(order[static_cast<size_t>(at)]);
      return;
    }
  }
}

void SettingsKeys::FixFocus() {
  if (open_ && !form_.IsEnabled(focus_)) open_ = false;
  if (!form_.IsEnabled(focus_)) MoveFocus(1);
  cursor_ = std::min(cursor_, form_.txtDeviceName().size());
}

void SettingsKeys::SetFocus(ControlId id) {
  if (id == ControlId::kTxtDeviceName && focus_ != id) cursor_ = form_.txtDeviceName().size();
  focus_ = id;
}

void SettingsKeys::MoveHighlight(int to) {
  const int count = static_cast<int>(List(focus_)->entries.size());
  if (count == 0) return;
  highlight_ = std::clamp(to, 0, count - 1);
  if (highlight_ < scroll_top_) scroll_top_ = highlight_;
  if (highlight_ >= scroll_top_ + kDropDownRows) scroll_top_ = highlight_ - kDropDownRows + 1;
  scroll_top_ = std::clamp(scroll_top_, 0, std::max(count - kDropDownRows, 0));
}

}  // namespace tarvex::ui

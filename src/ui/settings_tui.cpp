// The ncurses face of the settings dialog: terminal set-up and tear-down,
// drawing, and the translation of ncurses input into Key values.  Everything
// the keys do lives in SettingsKeys, everything the dialog does in frmSetting.
//
// It uses the wide-character ncurses under the user's locale, so that the
// name field takes and shows any character the terminal can show.  Under a
// locale that cannot show a character (plain "C", say) that character is
// drawn as '?' and cannot be typed; the dialog works otherwise unchanged.
#include "ui/settings_tui.h"

#include <curses.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

// The model's text is UTF-8; turning its code points into wchar_t by a cast
// needs wchar_t to hold Unicode, as it does with glibc in every locale.
#if !defined(__STDC_ISO_10646__)
#error "wchar_t must hold Unicode code points"
#endif

#include "config/frm_setting.h"
#include "ui/settings_keys.h"
#include "ui/settings_layout.h"

namespace tarvex::ui {
namespace {

// Rows below the window: the state line and the key help.
constexpr int kStatusRows = 2;

// The label that names each list and the text box.
ControlId LabelOf(ControlId id) {
  switch (id) {
    case ControlId::kCboModemID:
      return ControlId::kLabelConnectionId;
    case ControlId::kTxtDeviceName:
      return ControlId::kLabelDeviceName;
    case ControlId::kCboCommPort:
      return ControlId::kLabelPortAvailable;
    default:
      return ControlId::kLabel4;
  }
}

std::string CaptionText(std::string_view caption) {
  std::string text;
  for (char c : caption) {
    if (c != '&') text += c;
  }
  return text;
}

// What the state line calls a control.
std::string Describe(ControlId id) {
  const ControlInfo& c = frmSetting::Control(id);
  switch (c.kind) {
    case ControlKind::kDropDownList:
      return std::string(frmSetting::Control(LabelOf(id)).caption) + " list";
    case ControlKind::kTextBox:
      return std::string(frmSetting::Control(LabelOf(id)).caption) + " field";
    default:
      return CaptionText(c.caption) + " button";
  }
}

std::string ShortName(ControlId id) {
  const ControlInfo& c = frmSetting::Control(id);
  return c.kind == ControlKind::kCommandButton
             ? CaptionText(c.caption)
             : std::string(frmSetting::Control(LabelOf(id)).caption);
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The code point of one character's bytes (a lead byte and its continuation
// bytes, as the model and the keys cut the text); nullopt when malformed.
std::optional<char32_t> Decode(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    length = 1;
    c = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
  }
  if (length == 0 || bytes.size() != length) return std::nullopt;
  for (size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
  return c;
}

// What the terminal draws in one or two cells: a character with the marks
// that combine with it.
struct Glyph {
  std::wstring text;
  int width;   // columns
  size_t end;  // byte offset just past it in the UTF-8 text
};

// UTF-8 text as the terminal can show it under the current locale.  A
// character it cannot show (any non-ASCII one under "C", a control
// character, a malformed byte, a mark with nothing to sit on) is one '?', so
// that the columns counted here are the columns drawn.
std::vector<Glyph> Glyphs(std::string_view text) {
  std::vector<Glyph> glyphs;
  for (size_t at = 0; at < text.size();) {
    size_t end = at + 1;
    while (end < text.size() && IsContinuation(text[end])) ++end;
    const std::optional<char32_t> c = Decode(text.substr(at, end - at));
    const auto wc = static_cast<wchar_t>(c.value_or(0));
    const int width = c && *c != 0 ? wcwidth(wc) : -1;
    if (width == 0 && !glyphs.empty() && glyphs.back().text.size() < CCHARW_MAX) {
      glyphs.back().text += wc;
      glyphs.back().end = end;
    } else if (width <= 0) {
      glyphs.push_back({L"?", 1, end});
    } else {
      glyphs.push_back({std::wstring(1, wc), width, end});
    }
    at = end;
  }
  return glyphs;
}

// The columns glyphs [first, last) take.
int Width(const std::vector<Glyph>& glyphs, size_t first, size_t last) {
  int width = 0;
  for (size_t i = first; i < last && i < glyphs.size(); ++i) width += glyphs[i].width;
  return width;
}

// Draws glyphs from `first` on into `width` columns at the cursor position,
// padded with `fill`; a glyph that does not fit whole is left out with all
// after it, and the column it leaves is blank.  Returns whether every glyph
// fitted.
bool PutGlyphs(const std::vector<Glyph>& glyphs, size_t first, int width, wchar_t fill = L' ') {
  std::wstring line;
  int used = 0;
  size_t i = first;
  for (; i < glyphs.size() && used + glyphs[i].width <= width; ++i) {
    line += glyphs[i].text;
    used += glyphs[i].width;
  }
  const bool all = i == glyphs.size();
  line.append(static_cast<size_t>(std::max(width - used, 0)), all ? fill : L' ');
  addwstr(line.c_str());
  return all;
}

std::string Fit(std::string text, int width) {
  if (width <= 0) return {};
  text.resize(static_cast<size_t>(width), ' ');
  return text;
}

class Painter {
 public:
  Painter(const frmSetting& form, const SettingsKeys& keys)
      : form_(form), keys_(keys), layout_(SettingsDialogLayout()) {}

  void Draw() {
    erase();
    if (LINES < kMinRows || COLS < kMinColumns) {
      DrawTooSmall();
      refresh();
      return;
    }
    top_ = std::max((LINES - kStatusRows - layout_.rows) / 2, 0);
    left_ = (COLS - layout_.cols) / 2;
    DrawWindow();
    for (const ControlInfo& c : frmSetting::Controls()) DrawControl(c);
    DrawStatus();
    if (keys_.ListOpen()) DrawDropDown();
    PlaceCursor();
    refresh();
  }

 private:
  // Lines drawn as the locale's box-drawing characters where it has them,
  // else as the terminal's line-drawing set.
  void Box(int row, int col, int rows, int cols) {
    mvadd_wch(row, col, WACS_ULCORNER);
    mvhline_set(row, col + 1, WACS_HLINE, cols - 2);
    mvadd_wch(row, col + cols - 1, WACS_URCORNER);
    mvvline_set(row + 1, col, WACS_VLINE, rows - 2);
    mvvline_set(row + 1, col + cols - 1, WACS_VLINE, rows - 2);
    mvadd_wch(row + rows - 1, col, WACS_LLCORNER);
    mvhline_set(row + rows - 1, col + 1, WACS_HLINE, cols - 2);
    mvadd_wch(row + rows - 1, col + cols - 1, WACS_LRCORNER);
  }

  void DrawTooSmall() {
    const std::string lines[] = {
        "The terminal is too small for the settings dialog.",
        "It needs " + std::to_string(kMinColumns) + " x " + std::to_string(kMinRows) + "; it is " +
            std::to_string(COLS) + " x " + std::to_string(LINES) + ".",
        "Enlarge the window, or press Esc to leave.",
    };
    int row = std::max(LINES / 2 - 1, 0);
    for (const std::string& line : lines) {
      mvaddnstr(row++, std::max((COLS - static_cast<int>(line.size())) / 2, 0), line.c_str(), COLS);
    }
  }

  void DrawWindow() {
    Box(top_, left_, layout_.rows, layout_.cols);
    const std::string caption = " " + std::string(frmSetting::kCaption) + " ";
    attron(A_BOLD);
    mvaddstr(top_, left_ + 2, caption.c_str());
    attroff(A_BOLD);
  }

  void DrawControl(const ControlInfo& c) {
    const CellBox& b = layout_.Box(c.id);
    const int row = top_ + b.row, col = left_ + b.col;
    const bool focused = keys_.focus() == c.id;
    const bool enabled = form_.IsEnabled(c.id);
    // The focus shows in plain text too, not only as reverse video: a ">" in
    // the first cell of a field, ">  Apply  <" on a button.
    const std::string mark = focused ? ">" : " ";
    switch (c.kind) {
      case ControlKind::kFrame: {
        Box(row, col, b.rows, b.cols);
        attron(A_BOLD);
        mvaddstr(row, col + 2, (" " + std::string(c.caption) + " ").c_str());
        attroff(A_BOLD);
        break;
      }
      case ControlKind::kLabel:
        mvaddnstr(row, col, std::string(c.caption).c_str(), b.cols);
        break;
      case ControlKind::kPictureBox:
        DrawPicture(row, col, b);
        break;
      case ControlKind::kDropDownList: {
        const frmSetting::ComboList& list = *keys_.List(c.id);
        const chtype field = !enabled ? A_DIM : focused ? A_REVERSE : A_UNDERLINE;
        attron(field);
        mvaddstr(row, col, mark.c_str());
        PutGlyphs(Glyphs(list.Text()), 0, b.cols - 4);
        attroff(field);
        if (!enabled) attron(A_DIM);
        mvaddstr(row, col + b.cols - 3, "[v]");
        if (!enabled) attroff(A_DIM);
        break;
      }
      case ControlKind::kTextBox:
        mvaddstr(row, col, mark.c_str());
        DrawNameField(row, col + 1, b.cols - 1, focused);
        break;
      case ControlKind::kCommandButton:
        DrawButton(c, row, col, b.cols, focused, enabled);
        break;
    }
  }

  // The name field reads as a place to type even on a terminal without
  // underlining: the typing area sits between brackets and its untyped part
  // is a line.  The area holds the longest name with the cursor after it; a
  // name of wide characters that does not fit scrolls with the cursor, and a
  // '<' or '>' in place of a bracket tells of the part out of sight.
  void DrawNameField(int row, int col, int cols, bool focused) {
    const int area = cols - 2;
    const std::vector<Glyph> glyphs = Glyphs(form_.txtDeviceName());
    size_t cursor = 0;  // in glyphs
    while (focused && cursor < glyphs.size() && glyphs[cursor].end <= keys_.Cursor()) ++cursor;
    name_scroll_ = std::min(name_scroll_, cursor);
    while (Width(glyphs, name_scroll_, cursor) + 1 > area) ++name_scroll_;
    while (name_scroll_ > 0 && Width(glyphs, name_scroll_ - 1, glyphs.size()) + 1 <= area) {
      --name_scroll_;
    }

    if (focused) attron(A_BOLD);
    mvaddch(row, col, name_scroll_ > 0 ? '<' : '[');
    if (focused) attroff(A_BOLD);
    const chtype field = focused ? A_REVERSE : A_UNDERLINE;
    attron(field);
    const bool all_shown = PutGlyphs(glyphs, name_scroll_, area, L'_');
    attroff(field);
    if (focused) attron(A_BOLD);
    mvaddch(row, col + cols - 1, all_shown ? ']' : '>');
    if (focused) attroff(A_BOLD);
    name_cursor_ = {row, col + 1 + Width(glyphs, name_scroll_, cursor)};
  }

  void DrawButton(const ControlInfo& c, int row, int col, int cols, bool focused, bool enabled) {
    const std::string text = CaptionText(c.caption);
    const int inner = cols - 2;
    const int pad = std::max((inner - static_cast<int>(text.size())) / 2, 0);
    const chtype look = !enabled ? A_DIM : focused ? A_REVERSE | A_BOLD : A_NORMAL;
    const char* ends = focused ? "><" : "[]";
    attron(look);
    mvaddstr(row, col,
             (ends[0] + Fit(std::string(static_cast<size_t>(pad), ' ') + text, inner) + ends[1])
                 .c_str());
    attroff(look);
    // The access letter, underlined where the caption marks it.
    const size_t amp = c.caption.find('&');
    if (amp != std::string_view::npos && enabled) {
      mvaddch(row, col + 1 + pad + static_cast<int>(amp),
              static_cast<chtype>(text[amp]) | look | A_UNDERLINE);
    }
  }

  void DrawPicture(int row, int col, const CellBox& b) {
    Box(row, col, b.rows, b.cols);
    static const char* const kArt[] = {
        " ______________ ", "| o o o   ==== |", "|______________|", "", "T A R V E X", "GSM modem",
    };
    const int first = row + std::max((b.rows - 6) / 2, 1);
    for (int i = 0; i < 6 && first + i < row + b.rows - 1; ++i) {
      const int width = static_cast<int>(std::string_view(kArt[i]).size());
      mvaddnstr(first + i, col + std::max((b.cols - width) / 2, 1), kArt[i], b.cols - 2);
    }
  }

  void DrawDropDown() {
    const ControlId id = keys_.focus();
    const frmSetting::ComboList& list = *keys_.List(id);
    const CellBox& b = layout_.Box(id);
    const int count = static_cast<int>(list.entries.size());
    const int shown = std::min(count, SettingsKeys::kDropDownRows);
    const int height = shown + 2;
    int row = top_ + b.row + 1;
    if (row + height > LINES - kStatusRows) row = std::max(top_ + b.row - height, 0);
    const int col = left_ + b.col;
    for (int r = 0; r < height; ++r) mvaddstr(row + r, col, Fit("", b.cols).c_str());
    Box(row, col, height, b.cols);
    for (int i = 0; i < shown; ++i) {
      const int entry = keys_.ScrollTop() + i;
      const bool lit = entry == keys_.Highlight();
      const bool chosen = entry == list.list_index;
      if (lit) attron(A_REVERSE);
      mvaddstr(row + 1 + i, col + 1, chosen ? "*" : " ");
      PutGlyphs(Glyphs(list.entries[static_cast<size_t>(entry)]), 0, b.cols - 3);
      if (lit) attroff(A_REVERSE);
    }
    if (keys_.ScrollTop() > 0) mvaddch(row, col + b.cols - 2, '^');
    if (keys_.ScrollTop() + shown < count) mvaddch(row + height - 1, col + b.cols - 2, 'v');
  }

  void DrawStatus() {
    std::string state = "Focus: " + Describe(keys_.focus());
    std::string off;
    for (ControlId id : frmSetting::TabOrder()) {
      if (!form_.IsEnabled(id)) off += (off.empty() ? "" : ", ") + ShortName(id);
    }
    state += "   Disabled: " + (off.empty() ? std::string("none") : off);
    mvaddnstr(LINES - 2, 0, state.c_str(), COLS);

    const char* help;
    if (keys_.ListOpen()) {
      help = " Up/Down PgUp/PgDn Home/End: move   Enter/Space: pick   Esc: cancel";
    } else if (keys_.focus() == ControlId::kTxtDeviceName) {
      help = " Type the name (20 max)  Tab/S-Tab: move  Alt+A/R/C: buttons  Esc: close";
    } else if (keys_.List(keys_.focus()) != nullptr) {
      help = " Tab/S-Tab: move  Enter/Space: open  Up/Down: change  A/R/C: buttons  Esc: close";
    } else {
      help = " Tab/S-Tab: move  Enter/Space: press  A/R/C: Apply/Remove/Close  Esc: close";
    }
    attron(A_REVERSE);
    mvaddstr(LINES - 1, 0, Fit(help, COLS).c_str());
    attroff(A_REVERSE);
  }

  void PlaceCursor() {
    if (keys_.focus() == ControlId::kTxtDeviceName && !keys_.ListOpen()) {
      curs_set(1);
      move(name_cursor_.first, name_cursor_.second);
    } else {
      curs_set(0);
    }
  }

  const frmSetting& form_;
  const SettingsKeys& keys_;
  const DialogLayout& layout_;
  int top_ = 0;
  int left_ = 0;
  // The first glyph of the name that the field shows, kept from one drawing
  // to the next so that the text does not jump while the cursor moves.
  size_t name_scroll_ = 0;
  std::pair<int, int> name_cursor_{0, 0};  // row, column
};

// The rest of a key's escape sequence that the terminal description did not
// know (a terminal multiplexer with another TERM sends "ESC [ 4 ~" for End,
// say).  Known keys are mapped; the others are swallowed whole rather than
// read as Alt+"[" followed by stray characters.
std::optional<Key> ReadEscapeSequence(char introducer) {
  std::string body;
  nodelay(stdscr, TRUE);
  wint_t ch = 0;
  for (int got = get_wch(&ch); got == OK && body.size() < 16; got = get_wch(&ch)) {
    if (ch > 0x7E) break;  // no part of a sequence; dropped with it
    body += static_cast<char>(ch);
    if (ch >= 0x40) break;  // the final byte
  }
  nodelay(stdscr, FALSE);
  if (body.empty()) return Key{Key::kAlt, static_cast<char32_t>(introducer)};
  static const struct {
    const char* body;
    Key::Type type;
  } kSequences[] = {
      {"A", Key::kUp},      {"B", Key::kDown},    {"C", Key::kRight},    {"D", Key::kLeft},
      {"H", Key::kHome},    {"F", Key::kEnd},     {"1~", Key::kHome},    {"7~", Key::kHome},
      {"4~", Key::kEnd},    {"8~", Key::kEnd},    {"5~", Key::kPageUp},  {"6~", Key::kPageDown},
      {"3~", Key::kDelete}, {"Z", Key::kBackTab}, {"S", Key::kOpenList}, {"14~", Key::kOpenList},
  };
  for (const auto& seq : kSequences) {
    if (body == seq.body) return Key{seq.type};
  }
  return std::nullopt;
}

// A function key (get_wch's KEY_CODE_YES) as a Key.
std::optional<Key> FunctionKey(wint_t code) {
  switch (code) {
    case KEY_BTAB:
      return Key{Key::kBackTab};
    case KEY_ENTER:
      return Key{Key::kEnter};
    case KEY_UP:
      return Key{Key::kUp};
    case KEY_DOWN:
      return Key{Key::kDown};
    case KEY_PPAGE:
      return Key{Key::kPageUp};
    case KEY_NPAGE:
      return Key{Key::kPageDown};
    case KEY_HOME:
      return Key{Key::kHome};
    case KEY_END:
      return Key{Key::kEnd};
    case KEY_LEFT:
      return Key{Key::kLeft};
    case KEY_RIGHT:
      return Key{Key::kRight};
    case KEY_BACKSPACE:
      return Key{Key::kBackspace};
    case KEY_DC:
      return Key{Key::kDelete};
    case KEY_F(4):
      return Key{Key::kOpenList};
    default:  // a resize among them: it only redraws
      return std::nullopt;
  }
}

// One ncurses input, as a Key; nullopt for input that is no key of the dialog
// (a resize, which only redraws).  Characters arrive as code points, decoded
// from the terminal's bytes under the locale.
std::optional<Key> ReadKey() {
  wint_t ch = 0;
  const int got = get_wch(&ch);
  if (got == KEY_CODE_YES) return FunctionKey(ch);
  if (got != OK) return std::nullopt;
  switch (ch) {
    case L'\t':
      return Key{Key::kTab};
    case L'\n':
    case L'\r':
      return Key{Key::kEnter};
    case 127:
    case 8:
      return Key{Key::kBackspace};
    case 3:  // Ctrl+C arrives as a key in raw mode
      return Key{Key::kInterrupt};
    case 27: {
      // Alt+letter arrives as Esc followed at once by the letter; a lone Esc
      // has nothing behind it.
      nodelay(stdscr, TRUE);
      wint_t next = 0;
      const int more = get_wch(&next);
      nodelay(stdscr, FALSE);
      if (more == ERR) return Key{Key::kEscape};
      if (more == KEY_CODE_YES) {
        return next == KEY_DOWN ? std::optional<Key>(Key{Key::kOpenList}) : std::nullopt;
      }
      if (next == L'[' || next == L'O') return ReadEscapeSequence(static_cast<char>(next));
      if (iswprint(next)) return Key{Key::kAlt, static_cast<char32_t>(next)};
      return std::nullopt;
    }
    default:
      // What the locale cannot print is no character to type.
      if (iswprint(ch)) return Key{Key::kChar, static_cast<char32_t>(ch)};
      return std::nullopt;
  }
}

// Owns the ncurses screen; ends it on every path out.  The wide-character
// input and output follow the user's locale, which is taken for the time of
// the dialog only: a host process keeps the locale it had.
class Terminal {
 public:
  Terminal() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    saved_locale_ = current != nullptr ? current : "C";
    std::setlocale(LC_ALL, "");
    screen_ = newterm(nullptr, stdout, stdin);
    if (screen_ == nullptr) return;
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
  }
  ~Terminal() {
    if (screen_ != nullptr) {
      endwin();
      delscreen(screen_);
    }
    std::setlocale(LC_ALL, saved_locale_.c_str());
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  bool ok() const { return screen_ != nullptr; }

 private:
  std::string saved_locale_;
  SCREEN* screen_ = nullptr;
};

}  // namespace

int RunSettingsDialog(RegistryBackend& registry, UserSettings& user_settings) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    std::fprintf(stderr,
                 "tarvex settings: the dialog needs a terminal; standard input and output must "
                 "both be one.\nUse 'tarvex slot set' and 'tarvex slot remove' from scripts.\n");
    return kDialogNoTerminal;
  }
  int columns = 0, rows = 0;
  {
    Terminal terminal;
    if (!terminal.ok()) {
      const char* term = std::getenv("TERM");
      std::fprintf(stderr, "tarvex settings: cannot use the terminal type '%s'.\n",
                   term != nullptr ? term : "");
      return kDialogNoTerminal;
    }
    columns = COLS;
    rows = LINES;
    if (columns >= kMinColumns && rows >= kMinRows) {
      frmSetting form(registry, user_settings);
      form.Form_Load();
      SettingsKeys keys(form);
      Painter painter(form, keys);
      while (!form.Unloaded()) {
        painter.Draw();
        const std::optional<Key> key = ReadKey();
        if (!key) continue;
        // While the terminal is too small only leaving is possible.
        const bool too_small = LINES < kMinRows || COLS < kMinColumns;
        if (too_small && key->type != Key::kEscape && key->type != Key::kInterrupt) {
          beep();
          continue;
        }
        if (!keys.Handle(*key)) beep();
      }
      return kDialogClosed;
    }
  }
  std::fprintf(stderr,
               "tarvex settings: the terminal is %d x %d; the dialog needs at least %d x %d.\n"
               "Enlarge the window and try again.\n",
               columns, rows, kMinColumns, kMinRows);
  return kDialogTooSmall;
}

}  // namespace tarvex::ui

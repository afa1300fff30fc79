// The ncurses face of the settings dialog: terminal set-up and tear-down,
// drawing, and the translation of ncurses input into Key values.  Everything
// the keys do lives in SettingsKeys, everything the dialog does in frmSetting.
#include "ui/settings_tui.h"

#include <curses.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

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

// A narrow-character terminal cannot show other characters: one '?' each.
std::string Printable(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if ((c & 0xC0) != 0x80) {
      out += '?';
    }
  }
  return out;
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
  void Box(int row, int col, int rows, int cols) {
    mvaddch(row, col, ACS_ULCORNER);
    mvhline(row, col + 1, ACS_HLINE, cols - 2);
    mvaddch(row, col + cols - 1, ACS_URCORNER);
    mvvline(row + 1, col, ACS_VLINE, rows - 2);
    mvvline(row + 1, col + cols - 1, ACS_VLINE, rows - 2);
    mvaddch(row + rows - 1, col, ACS_LLCORNER);
    mvhline(row + rows - 1, col + 1, ACS_HLINE, cols - 2);
    mvaddch(row + rows - 1, col + cols - 1, ACS_LRCORNER);
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
        mvaddstr(row, col, Fit(mark + Printable(list.Text()), b.cols - 3).c_str());
        attroff(field);
        if (!enabled) attron(A_DIM);
        mvaddstr(row, col + b.cols - 3, "[v]");
        if (!enabled) attroff(A_DIM);
        break;
      }
      case ControlKind::kTextBox: {
        const chtype field = focused ? A_REVERSE : A_UNDERLINE;
        attron(field);
        mvaddstr(row, col, Fit(mark + Printable(form_.txtDeviceName()), b.cols).c_str());
        attroff(field);
        break;
      }
      case ControlKind::kCommandButton:
        DrawButton(c, row, col, b.cols, focused, enabled);
        break;
    }
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
      const std::string text =
          Fit(std::string(chosen ? "*" : " ") + Printable(list.entries[entry]), b.cols - 2);
      if (lit) attron(A_REVERSE);
      mvaddstr(row + 1 + i, col + 1, text.c_str());
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
      const CellBox& b = layout_.Box(ControlId::kTxtDeviceName);
      const std::string before =
          Printable(std::string_view(form_.txtDeviceName()).substr(0, keys_.Cursor()));
      curs_set(1);
      move(top_ + b.row, left_ + b.col + 1 + static_cast<int>(before.size()));
    } else {
      curs_set(0);
    }
  }

  const frmSetting& form_;
  const SettingsKeys& keys_;
  const DialogLayout& layout_;
  int top_ = 0;
  int left_ = 0;
};

// The rest of a key's escape sequence that the terminal description did not
// know (a terminal multiplexer with another TERM sends "ESC [ 4 ~" for End,
// say).  Known keys are mapped; the others are swallowed whole rather than
// read as Alt+"[" followed by stray characters.
std::optional<Key> ReadEscapeSequence(char introducer) {
  std::string body;
  nodelay(stdscr, TRUE);
  for (int ch = getch(); ch != ERR && body.size() < 16; ch = getch()) {
    body += static_cast<char>(ch);
    if (ch >= 0x40 && ch <= 0x7E) break;  // the final byte
  }
  nodelay(stdscr, FALSE);
  if (body.empty()) return Key{Key::kAlt, introducer};
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

// One ncurses input, as a Key; nullopt for input that is no key of the dialog
// (a resize, which only redraws).
std::optional<Key> ReadKey() {
  const int ch = getch();
  switch (ch) {
    case '\t':
      return Key{Key::kTab};
    case KEY_BTAB:
      return Key{Key::kBackTab};
    case '\n':
    case '\r':
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
    case 127:
    case 8:
      return Key{Key::kBackspace};
    case KEY_DC:
      return Key{Key::kDelete};
    case KEY_F(4):
      return Key{Key::kOpenList};
    case 3:  // Ctrl+C arrives as a key in raw mode
      return Key{Key::kInterrupt};
    case 27: {
      // Alt+letter arrives as Esc followed at once by the letter; a lone Esc
      // has nothing behind it.
      nodelay(stdscr, TRUE);
      const int next = getch();
      nodelay(stdscr, FALSE);
      if (next == ERR) return Key{Key::kEscape};
      if (next == KEY_DOWN) return Key{Key::kOpenList};
      if (next == '[' || next == 'O') return ReadEscapeSequence(static_cast<char>(next));
      if (next >= 0x20 && next < 0x7F) return Key{Key::kAlt, static_cast<char>(next)};
      return std::nullopt;
    }
    default:
      if (ch >= 0x20 && ch < 0x7F) return Key{Key::kChar, static_cast<char>(ch)};
      return std::nullopt;
  }
}

// Owns the ncurses screen; ends it on every path out.
class Terminal {
 public:
  Terminal() : screen_(newterm(nullptr, stdout, stdin)) {
    if (screen_ == nullptr) return;
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
  }
  ~Terminal() {
    if (screen_ == nullptr) return;
    endwin();
    delscreen(screen_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  bool ok() const { return screen_ != nullptr; }

 private:
  SCREEN* screen_;
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

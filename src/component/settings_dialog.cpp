// The Win32 face of frmSetting.
//
// The window is a dialog made from an in-memory template with no items: the
// dialog manager then gives us the modal loop, the disabling of the owner,
// Tab and Shift+Tab, Alt+letter access keys, Enter on a focused button and
// Esc as IDCANCEL, all as a Windows user expects them.  The controls
// themselves are created in WM_INITDIALOG with CreateWindowExW, because the
// model's layout is in twips and a template can only say dialog units, which
// follow the font rather than the display's resolution.
//
// The face holds no state of its own beyond what it last showed: every user
// action goes to the model, and the controls are then set from the model, so
// this face and the terminal one cannot come to differ.
#include "settings_dialog.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "config/frm_setting.h"
#include "module.h"
#include "resource.h"

namespace tarvex::com {
namespace {

// Control identifiers stay clear of IDOK and IDCANCEL, which the dialog
// manager sends for Enter and Esc.
static_assert(kSettingsControlIdBase > IDCANCEL);
// Entries a dropped list shows before it scrolls: the whole baud-rate list,
// about half the port list.
constexpr int kDroppedRows = 12;

int IdOf(ControlId id) { return kSettingsControlIdBase + static_cast<int>(id); }

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The dialog's template: caption and frame only.  The size is set in
// WM_INITDIALOG, in pixels.
class DialogTemplate {
 public:
  DialogTemplate() {
    const DLGTEMPLATE head = {
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME, 0, 0, 0, 0, 0, 0};
    std::memcpy(words_.data(), &head, sizeof head);
    size_t at = sizeof head / sizeof(WORD);
    words_[at++] = 0;  // no menu
    words_[at++] = 0;  // the dialog class
    for (wchar_t c : Wide(frmSetting::kCaption)) words_[at++] = static_cast<WORD>(c);
    words_[at] = 0;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  // DWORD-aligned, as the dialog manager requires.  Room for the header,
  // the two empty fields and the caption (UTF-8 bytes are never fewer than
  // UTF-16 units).
  static constexpr size_t kWords = 64;
  static_assert(sizeof(DLGTEMPLATE) / sizeof(WORD) + 3 + frmSetting::kCaption.size() <= kWords);
  alignas(DWORD) std::array<WORD, kWords> words_{};
};

class SettingsWindow {
 public:
  SettingsWindow(RegistryBackend& registry, UserSettings& user_settings)
      : form_(registry, user_settings) {}
  ~SettingsWindow() {
    for (const auto& [font, handle] : fonts_) DeleteObject(handle);
    if (picture_) DeleteObject(picture_);
  }
  SettingsWindow(const SettingsWindow&) = delete;
  SettingsWindow& operator=(const SettingsWindow&) = delete;

  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    auto* self = reinterpret_cast<SettingsWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return self ? self->Handle(dialog, message, wparam, lparam) : FALSE;
  }

 private:
  INT_PTR Handle(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_INITDIALOG:
        dialog_ = dialog;
        Init();
        // Init placed the focus; FALSE keeps the dialog manager from moving it.
        return FALSE;
      case WM_COMMAND:
        if (!refreshing_) OnCommand(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
      case WM_CLOSE:
        Act([this] { form_.Press(frmSetting::kClose); });
        return TRUE;
      case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (item->CtlID != static_cast<UINT>(IdOf(ControlId::kPicture1))) return FALSE;
        DrawPicture(*item);
        return TRUE;
      }
      default:
        return FALSE;
    }
  }

  int PixelsX(int twips) const { return MulDiv(twips, dpi_x_, 1440); }
  int PixelsY(int twips) const { return MulDiv(twips, dpi_y_, 1440); }

  void Init() {
    HDC screen = GetDC(nullptr);
    dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
    dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    picture_ =
        static_cast<HBITMAP>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDB_SETTINGS_PICTURE),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));

    // The model centres a window of the client area's size; the borders
    // and the title bar are shared out around it so the whole window stays
    // centred too.
    form_.SetScreenSize(MulDiv(GetSystemMetrics(SM_CXSCREEN), 1440, dpi_x_),
                        MulDiv(GetSystemMetrics(SM_CYSCREEN), 1440, dpi_y_));
    form_.Form_Load();
    const int client_width = PixelsX(frmSetting::kClientWidth);
    const int client_height = PixelsY(frmSetting::kClientHeight);
    RECT frame = {0, 0, client_width, client_height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(dialog_, nullptr, PixelsX(form_.Left()) - (width - client_width) / 2,
                 PixelsY(form_.Top()) - (height - client_height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);

    // Windows made later lie below earlier ones, and the dialog manager tabs
    // down that order: the focusable controls are made in the model's tab
    // order, so it is the window's.  The labels, the picture and then the
    // frame go below them all, as a form draws its labels and frames beneath
    // its windowed controls; a label's box reaches under the list beside it.
    for (ControlId id : frmSetting::TabOrder()) Create(frmSetting::Control(id));
    for (ControlKind kind : {ControlKind::kLabel, ControlKind::kPictureBox, ControlKind::kFrame}) {
      for (const ControlInfo& c : frmSetting::Controls()) {
        if (c.kind == kind) Create(c);
      }
    }
    SendMessageW(Window(ControlId::kTxtDeviceName), EM_LIMITTEXT, frmSetting::kDeviceNameMaxLength,
                 0);

    Refresh();
    SetFocus(Window(frmSetting::TabOrder().front()));
  }

  void Create(const ControlInfo& c) {
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (c.kind) {
      // Both paint their whole box, so each leaves out the windows above it.
      case ControlKind::kFrame:
        window_class = L"BUTTON";
        style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
        break;
      case ControlKind::kLabel:
        style |= SS_LEFT | SS_NOPREFIX | WS_CLIPSIBLINGS;
        break;
      case ControlKind::kDropDownList:
        window_class = L"COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL;
        break;
      case ControlKind::kTextBox:
        window_class = L"EDIT";
        style |= ES_LEFT | ES_AUTOHSCROLL;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kPictureBox:
        style |= SS_OWNERDRAW;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::kCommandButton:
        window_class = L"BUTTON";
        style |= BS_PUSHBUTTON;
        break;
    }
    // Each focusable control is a group of its own, so the arrow keys act
    // inside a control and never wander to the next one.
    if (c.tab_stop) style |= WS_TABSTOP | WS_GROUP;
    const ControlInfo& frame = frmSetting::Control(ControlId::kFrame1);
    const int left = c.in_frame ? frame.left + c.left : c.left;
    const int top = c.in_frame ? frame.top + c.top : c.top;
    HWND window = CreateWindowExW(
        ex_style, window_class, Wide(c.caption).c_str(), style, PixelsX(left), PixelsY(top),
        PixelsX(c.width), PixelsY(c.height), dialog_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IdOf(c.id))), ModuleInstance(), nullptr);
    controls_[static_cast<size_t>(c.id)] = window;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c.font)), FALSE);
    if (c.kind == ControlKind::kDropDownList) FitList(window, c);
  }

  // A closed list is as high as its selection field, whatever height it was
  // given, and the field follows the font: the height a resize gives is the
  // height the list drops to, and the field is then brought to the layout's.
  // Both are corrected by what the window came out as, not set from a
  // formula, since the borders differ between versions (and Wine reads back
  // more than it was given).
  void FitList(HWND list, const ControlInfo& c) {
    const int field_wanted = PixelsY(c.height);
    const int rows = c.id == ControlId::kCboModemID ? frmSetting::kSlotCount : kDroppedRows;
    const int dropped_wanted =
        field_wanted + rows * static_cast<int>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0)) + 2;
    auto field = static_cast<int>(SendMessageW(list, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    int dropped = dropped_wanted;
    for (int attempt = 0; attempt < 4; ++attempt) {
      SetWindowPos(list, nullptr, 0, 0, PixelsX(c.width), dropped,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      RECT closed, open;
      GetWindowRect(list, &closed);
      const int field_error = field_wanted - (closed.bottom - closed.top);
      if (field_error != 0) {
        field += field_error;
        SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
        continue;
      }
      SendMessageW(list, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&open));
      const int dropped_error = dropped_wanted - (open.bottom - open.top);
      if (dropped_error == 0) break;
      dropped += dropped_error;
    }
  }

  HFONT Font(const ControlFont& font) {
    for (const auto& [known, handle] : fonts_) {
      if (known.name == font.name && known.points == font.points && known.bold == font.bold) {
        return handle;
      }
    }
    LOGFONTW log = {};
    log.lfHeight = -static_cast<LONG>(std::lround(font.points * dpi_y_ / 72.0));
    log.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    log.lfCharSet = DEFAULT_CHARSET;
    log.lfQuality = DEFAULT_QUALITY;
    const std::wstring name = Wide(font.name);
    name.copy(log.lfFaceName, LF_FACESIZE - 1);
    HFONT handle = CreateFontIndirectW(&log);
    fonts_.emplace_back(font, handle);
    return handle;
  }

  HWND Window(ControlId id) const { return controls_[static_cast<size_t>(id)]; }

  void OnCommand(int id, int code) {
    if (id == IDCANCEL) {
      Act([this] { form_.Press(frmSetting::kClose); });
      return;
    }
    const int index = id - kSettingsControlIdBase;
    if (index < 0 || index >= kControlCount) return;
    const ControlInfo& c = frmSetting::Control(static_cast<ControlId>(index));
    HWND window = Window(c.id);
    switch (c.kind) {
      case ControlKind::kDropDownList:
        if (code != CBN_SELCHANGE) return;
        Act([&] {
          const int picked = static_cast<int>(SendMessageW(window, CB_GETCURSEL, 0, 0));
          if (c.id == ControlId::kCboModemID) form_.SelectModemID(picked);
          if (c.id == ControlId::kCboCommPort) form_.SelectCommPort(picked);
          if (c.id == ControlId::kCboBaudRate) form_.SelectBaudRate(picked);
        });
        return;
      case ControlKind::kTextBox:
        if (code != EN_CHANGE) return;
        Act([&] { form_.SetDeviceName(Utf8(WindowText(window))); });
        return;
      case ControlKind::kCommandButton:
        if (code != BN_CLICKED) return;
        Act([&] { form_.Press(static_cast<int16_t>(c.index)); });
        return;
      default:
        return;
    }
  }

  // Runs one user action on the model, then shows its outcome.
  template <typename Action>
  void Act(Action action) {
    action();
    if (form_.Unloaded()) {
      EndDialog(dialog_, 0);
      return;
    }
    Refresh();
  }

  void ShowList(ControlId id, const frmSetting::ComboList& list) {
    HWND window = Window(id);
    auto& shown = shown_lists_[static_cast<size_t>(id)];
    // A refill in the model is one here too, even with the same entries:
    // CB_SETCURSEL -1 alone leaves the list's caret on the old entry, and
    // Down would then pick the port after it instead of "1".
    if (shown.entries != list.entries || shown.fills != list.fills) {
      SendMessageW(window, CB_RESETCONTENT, 0, 0);
      for (const std::string& entry : list.entries) {
        SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(entry).c_str()));
      }
      shown.entries = list.entries;
      shown.fills = list.fills;
    }
    if (SendMessageW(window, CB_GETCURSEL, 0, 0) != list.list_index) {
      SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(list.list_index), 0);
    }
  }

  // Sets every control from the model.  The controls' own notifications
  // while this runs (EN_CHANGE from setting the name) are the face talking
  // to itself, not the user, and are dropped.
  void Refresh() {
    refreshing_ = true;
    HWND focus = GetFocus();
    ShowList(ControlId::kCboModemID, form_.cboModemID());
    ShowList(ControlId::kCboCommPort, form_.cboCommPort());
    ShowList(ControlId::kCboBaudRate, form_.cboBaudRate());
    HWND name = Window(ControlId::kTxtDeviceName);
    const std::wstring text = Wide(form_.txtDeviceName());
    if (WindowText(name) != text) SetWindowTextW(name, text.c_str());
    for (ControlId id : frmSetting::TabOrder()) EnableWindow(Window(id), form_.IsEnabled(id));
    // A control that is disabled while it has the focus takes the focus with
    // it; the keyboard would be dead until the user clicked somewhere.  The
    // focus moves on to the next control that can take it, as on Tab.
    if (focus && IsChild(dialog_, focus) && !IsWindowEnabled(focus)) {
      if (HWND next = GetNextDlgTabItem(dialog_, focus, FALSE)) {
        SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
      }
    }
    refreshing_ = false;
  }

  // Picture1 shows its bitmap centred; the rest of the box takes the
  // bitmap's corner colour so the picture seems to fill it.
  void DrawPicture(const DRAWITEMSTRUCT& item) {
    const RECT& box = item.rcItem;
    if (!picture_) {
      FillRect(item.hDC, &box, GetSysColorBrush(COLOR_BTNFACE));
      return;
    }
    HDC source = CreateCompatibleDC(item.hDC);
    HGDIOBJ old = SelectObject(source, picture_);
    BITMAP info;
    GetObjectW(picture_, sizeof info, &info);
    HBRUSH back = CreateSolidBrush(GetPixel(source, 0, 0));
    FillRect(item.hDC, &box, back);
    DeleteObject(back);
    BitBlt(item.hDC, box.left + (box.right - box.left - info.bmWidth) / 2,
           box.top + (box.bottom - box.top - info.bmHeight) / 2, info.bmWidth, info.bmHeight,
           source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
  }

  frmSetting form_;
  HWND dialog_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  // What each list shows, so that a refresh refills a list only when the
  // model refilled it (a refill would close a dropped list).
  std::array<frmSetting::ComboList, kControlCount> shown_lists_;
  std::vector<std::pair<ControlFont, HFONT>> fonts_;
  HBITMAP picture_ = nullptr;
  int dpi_x_ = 96;
  int dpi_y_ = 96;
  bool refreshing_ = false;
};

}  // namespace

void ShowSettingsDialog(HWND owner, RegistryBackend& registry, UserSettings& user_settings) {
  static const DialogTemplate kTemplate;
  SettingsWindow window(registry, user_settings);
  DialogBoxIndirectParamW(ModuleInstance(), kTemplate.get(), owner, SettingsWindow::Proc,
                          reinterpret_cast<LPARAM>(&window));
}

}  // namespace tarvex::com

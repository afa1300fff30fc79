// The settings dialog as a user meets it: the test's main thread sits in the
// dialog's modal loop while a second thread works the controls through the
// messages a mouse and keyboard would cause.  Slot 2 is the dialog tests'
// own: its values are removed before and after each run.
// clang-format off
#include "tarvex4_idl.h"
// clang-format on

#include "settings_dialog.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "config/frm_setting.h"
#include "wine_test.h"

namespace tarvex::com {
namespace {

using enum ControlId;

// Generous: the dialog is up, or gone, in well under a second.
constexpr DWORD kBoundMs = 10000;
constexpr wchar_t kCaption[] = L"Tarvex : Communication Setting";
constexpr wchar_t kUser[] =
    L"Software\\VB and VBA Program Settings\\Velmoria\\Tarvex v4.0 - Modem #2";

// As a host opens it: Setting on a control made from the registered module,
// with no container, so the dialog has no owner.
void OpenDialog() {
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  _Tarvex* tarvex = testing::Create<_Tarvex>(L"Tarvex4.Tarvex");
  ASSERT_NE(tarvex, nullptr);
  EXPECT_HRESULT_SUCCEEDED(tarvex->Setting());
  tarvex->Release();
  CoUninitialize();
}

using testing::ReadText;

struct Place {
  HKEY root;
  const wchar_t* key;
  const wchar_t* name;
};
// Where an Apply on slot 2 writes.
const HKEY kRouteKey = testing::MachineKey(L"SOFTWARE\\Clients\\Route");
const HKEY kDeviceKey = testing::MachineKey(L"SOFTWARE\\DevName\\Device");
const Place kSlot2[] = {{kRouteKey, L"", L"dvp2"},
                        {kRouteKey, L"", L"dvb2"},
                        {kDeviceKey, L"", L"dvn2"},
                        {HKEY_CURRENT_USER, kUser, L"Port"},
                        {HKEY_CURRENT_USER, kUser, L"BaudRate"}};
void ClearSlot2() {
  for (const Place& p : kSlot2) RegDeleteKeyValueW(p.root, p.key, p.name);
}

HWND g_dialog = nullptr;
HWND g_marker = nullptr;     // a window of the dialog's thread, for Settle()
HANDLE g_shown = nullptr;    // the dialog is active, its controls made
HANDLE g_settled = nullptr;  // the modal loop reached the marker
HANDLE g_closed = nullptr;   // ShowSettingsDialog returned

LRESULT CALLBACK WatchActivation(int code, WPARAM wparam, LPARAM lparam) {
  wchar_t title[64] = {};
  if (code == HCBT_ACTIVATE && !g_dialog &&
      GetWindowTextW(reinterpret_cast<HWND>(wparam), title, 64) && !wcscmp(title, kCaption)) {
    g_dialog = reinterpret_cast<HWND>(wparam);
    SetEvent(g_shown);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK MarkerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) SetEvent(g_settled);
  return DefWindowProcW(window, message, wparam, lparam);
}

// What the driving thread does to, and sees of, the dialog.
HWND Item(ControlId id) {
  return GetDlgItem(g_dialog, kSettingsControlIdBase + static_cast<int>(id));
}
bool Enabled(ControlId id) { return IsWindowEnabled(Item(id)); }
LRESULT Selection(ControlId id) { return SendMessageW(Item(id), CB_GETCURSEL, 0, 0); }
std::wstring Text(ControlId id) {
  wchar_t text[64] = {};
  GetWindowTextW(Item(id), text, 64);
  return text;
}
HWND Focus() {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(g_dialog, nullptr), &info);
  return info.hwndFocus;
}
// A pick from a list, which the list reports as a change of selection.
void Pick(ControlId id, const wchar_t* entry) {
  const LRESULT index = SendMessageW(Item(id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(entry));
  ASSERT_NE(index, CB_ERR) << "no entry " << entry;
  SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(g_dialog, WM_COMMAND,
               MAKEWPARAM(kSettingsControlIdBase + static_cast<int>(id), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(Item(id)));
}
// Moves to the name field (which selects its text) and types over it.
void Type(const std::wstring& text) {
  SendMessageW(g_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kTxtDeviceName)), TRUE);
  for (wchar_t c : text) SendMessageW(Item(kTxtDeviceName), WM_CHAR, c, 1);
}
// Returns once the modal loop has handled everything posted before.
void Settle() {
  PostMessageW(g_marker, WM_APP, 0, 0);
  EXPECT_EQ(WaitForSingleObject(g_settled, kBoundMs), WAIT_OBJECT_0);
}
// A key through the modal loop and its IsDialogMessage, as real input goes.
void Key(UINT message, WPARAM key, LPARAM flags) { PostMessageW(Focus(), message, key, flags); }

// Shows the dialog on this thread and runs `drive` on a second one once it
// is up; `drive` must close the dialog the way a user would.
void RunDialog(const std::function<void()>& drive) {
  g_dialog = nullptr;
  g_shown = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_settled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WNDCLASSW marker_class = {};
  marker_class.lpfnWndProc = MarkerProc;
  marker_class.lpszClassName = L"TarvexDialogTestMarker";
  RegisterClassW(&marker_class);
  g_marker = CreateWindowW(marker_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           nullptr, nullptr);
  HHOOK hook = SetWindowsHookExW(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
  std::thread driver([&] {
    if (WaitForSingleObject(g_shown, kBoundMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the dialog did not come up";
      return;
    }
    Settle();  // the activation that set the focus has run its course
    drive();
    if (WaitForSingleObject(g_closed, kBoundMs) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the dialog stayed open";
      EndDialog(g_dialog, 0);
    }
  });
  OpenDialog();
  SetEvent(g_closed);
  driver.join();
  UnhookWindowsHookEx(hook);
  DestroyWindow(g_marker);
  for (HANDLE event : {g_shown, g_settled, g_closed}) CloseHandle(event);
}

// The dialog as it is on the screen, as a BMP in the working folder, for a
// person to look at.  Copied from the screen because Wine's PrintWindow draws
// neither the frame nor the child windows.
void SaveScreenshot(const char* path) {
  RedrawWindow(g_dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Settle();
  RECT r;
  GetWindowRect(g_dialog, &r);
  BITMAPINFO info = {};
  BITMAPINFOHEADER& head = info.bmiHeader;
  head = {sizeof head, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, picture);
  BitBlt(memory, 0, 0, head.biWidth, head.biHeight, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const DWORD size = ((head.biWidth * 3 + 3) & ~3) * head.biHeight;
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof head;
  const BITMAPFILEHEADER file = {0x4D42, offset + size, 0, 0, offset};
  if (FILE* out = std::fopen(path, "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&head, sizeof head, 1, out);
    std::fwrite(bits, size, 1, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

TEST(SettingsDialog, AppliesAndRemovesASlotThroughBothStores) {
  ClearSlot2();
  RunDialog([] {
    Pick(kCboModemID, L"Modem #2");
    Pick(kCboCommPort, L"3");
    Pick(kCboBaudRate, L"115200");
    Type(L"Модем склада 2, Киев-Центр");  // longer than the 20 the field takes
    const std::wstring name = L"Модем склада 2, Киев";
    SendMessageW(Item(kCmdApply), BM_CLICK, 0, 0);
    const std::wstring applied[] = {L"3", L"115200", name, L"3", L"115200"};
    for (size_t i = 0; i < std::size(kSlot2); ++i) {
      EXPECT_EQ(ReadText(kSlot2[i].root, kSlot2[i].key, kSlot2[i].name), applied[i]) << i;
    }
    EXPECT_EQ(Text(kTxtDeviceName), name);
    EXPECT_TRUE(Enabled(kCmdRemove));
    SaveScreenshot("settings_dialog.bmp");

    // With every control enabled, Tab visits them in the model's order.
    const std::vector<ControlId> order = frmSetting::TabOrder();
    HWND at = Item(order.front());
    for (size_t i = 1; i <= order.size(); ++i) {
      at = GetNextDlgTabItem(g_dialog, at, FALSE);
      EXPECT_EQ(at, Item(order[i % order.size()])) << "tab stop " << i;
    }

    Key(WM_SYSCHAR, 'r', 1 << 29);  // Alt+R
    Settle();
    for (const Place& p : kSlot2) EXPECT_FALSE(ReadText(p.root, p.key, p.name)) << p.name;
    EXPECT_EQ(Selection(kCboModemID), 1);
    EXPECT_EQ(Selection(kCboCommPort), CB_ERR);
    EXPECT_EQ(Selection(kCboBaudRate), CB_ERR);
    EXPECT_EQ(Text(kTxtDeviceName), L"");
    EXPECT_FALSE(Enabled(kCmdApply));
    EXPECT_FALSE(Enabled(kCmdRemove));
    // The buttons that went grey must not have taken the keyboard with them.
    EXPECT_TRUE(Focus() && IsWindowEnabled(Focus()));
    // The port list was filled anew: Down starts at its top, not after the
    // port just removed.
    SendMessageW(g_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(kCboCommPort)), TRUE);
    Key(WM_KEYDOWN, VK_DOWN, 1);
    Settle();
    EXPECT_EQ(Text(kCboCommPort), L"1");
    SendMessageW(Item(kCmdClose), BM_CLICK, 0, 0);
  });
  ClearSlot2();
}

int Pixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

// What a stored slot shows is the model's (frmSetting's own tests).
TEST(SettingsDialog, OpensAsLaidOutAndClosesOnEscape) {
  RunDialog([] {
    HDC screen = GetDC(nullptr);
    const int dpi_x = GetDeviceCaps(screen, LOGPIXELSX), dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT client, window;
    GetClientRect(g_dialog, &client);
    GetWindowRect(g_dialog, &window);
    EXPECT_EQ(client.right, Pixels(frmSetting::kClientWidth, dpi_x));
    EXPECT_EQ(client.bottom, Pixels(frmSetting::kClientHeight, dpi_y));
    EXPECT_NEAR(window.left + window.right, GetSystemMetrics(SM_CXSCREEN), 1);
    EXPECT_NEAR(window.top + window.bottom, GetSystemMetrics(SM_CYSCREEN), 1);
    const ControlInfo& frame = frmSetting::Control(kFrame1);
    for (const ControlInfo& c : frmSetting::Controls()) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.index));
      RECT r;
      GetWindowRect(Item(c.id), &r);
      MapWindowPoints(nullptr, g_dialog, reinterpret_cast<POINT*>(&r), 2);
      EXPECT_EQ(r.left, Pixels(c.left + (c.in_frame ? frame.left : 0), dpi_x));
      EXPECT_EQ(r.top, Pixels(c.top + (c.in_frame ? frame.top : 0), dpi_y));
      EXPECT_EQ(r.right - r.left, Pixels(c.width, dpi_x));
      EXPECT_EQ(r.bottom - r.top, Pixels(c.height, dpi_y));
      const bool usable = c.id == kCboModemID || c.id == kTxtDeviceName || c.id == kCmdClose;
      EXPECT_EQ(Enabled(c.id), usable || !c.tab_stop);
    }
    EXPECT_EQ(Focus(), Item(kCboModemID));
    EXPECT_EQ(Selection(kCboModemID), CB_ERR);
    Key(WM_KEYDOWN, VK_ESCAPE, 1);
  });
}

}  // namespace
}  // namespace tarvex::com

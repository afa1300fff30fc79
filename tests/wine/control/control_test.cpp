// Tarvex on a form: in-place activation in the container's window, a size
// that stays 2400 x 855 twips whatever the container asks, the face drawn
// into any device context, empty persistence, quick activation, and a
// lifetime that ends when the container lets go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "resource.h"
#include "server.h"
#include "tarvex_object.h"
#include "test_container.h"
#include "wine_test.h"

namespace tarvex::com::testing {
namespace {

[[maybe_unused]] ::testing::Environment* const apartment =
    ::testing::AddGlobalTestEnvironment(new Apartment(true));

// Whether the registered Tarvex4.ocx has no objects left.
bool OcxCanUnload() {
  auto* can_unload =
      Export<HRESULT STDAPICALLTYPE()>(GetModuleHandleW(L"Tarvex4.ocx"), "DllCanUnloadNow");
  return can_unload != nullptr && can_unload() == S_OK;
}

// 2400 x 855 twips in pixels of the display.
SIZE ControlPixels() {
  HDC screen = GetDC(nullptr);
  const SIZE size = {MulDiv(2400, GetDeviceCaps(screen, LOGPIXELSX), 1440),
                     MulDiv(855, GetDeviceCaps(screen, LOGPIXELSY), 1440)};
  ReleaseDC(nullptr, screen);
  return size;
}

constexpr DWORD kMiscStatus = 131473;
constexpr SIZEL kExtent = {4233, 1508};  // 2400 x 855 twips in HIMETRIC
constexpr uint32_t kUntouched = 0x123456;

// A 32-bit top-down DIB section selected into a memory DC, every pixel
// kUntouched until something draws on it.
class Canvas {
 public:
  Canvas(int width, int height) : dc(CreateCompatibleDC(nullptr)), size_(width * height) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_ =
        CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    previous_ = SelectObject(dc, bitmap_);
    std::fill(bits_, bits_ + size_, kUntouched);
  }
  ~Canvas() {
    SelectObject(dc, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc);
  }
  bool operator==(const Canvas& other) const {
    GdiFlush();
    return size_ == other.size_ &&
           std::equal(bits_, bits_ + size_, other.bits_,
                      [](auto a, auto b) { return (a & 0xFFFFFF) == (b & 0xFFFFFF); });
  }

  const HDC dc;

 private:
  const int size_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  uint32_t* bits_ = nullptr;
};

bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

RECT InParent(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT Placed(LONG left, LONG top) {
  const SIZE size = ControlPixels();
  return {left, top, left + size.cx, top + size.cy};
}

// Every test ends with the container as it was: the control holds none of
// its references and the module has no objects left.
class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    *control_.GetAddressOf() = Create<IOleObject>(L"Tarvex4.Tarvex");
    ASSERT_NE(control_.Get(), nullptr);
  }
  void TearDown() override {
    if (control_ != nullptr) control_->Close(OLECLOSE_NOSAVE);
    control_.Reset();
    EXPECT_TRUE(OcxCanUnload());
    EXPECT_EQ(container_.refs(), 1u);
  }
  HRESULT Activate(LONG verb = OLEIVERB_INPLACEACTIVATE) {
    EXPECT_HRESULT_SUCCEEDED(control_->SetClientSite(&container_));
    return control_->DoVerb(verb, nullptr, &container_, -1, container_.window(),
                            &container_.offered);
  }
  HWND Window() {
    HWND window = nullptr;
    As<IOleWindow>()->GetWindow(&window);
    return window;
  }
  template <typename T>
  ComPtr<T> As() {
    ComPtr<T> out;
    EXPECT_HRESULT_SUCCEEDED(control_.As(&out));
    return out;
  }

  TestContainer container_;
  ComPtr<IOleObject> control_;
};

TEST_F(Control, KeepsItsSizeWhateverExtentOrRectangleIsAsked) {
  container_.insist_on = control_.Get();
  ASSERT_HRESULT_SUCCEEDED(Activate());
  const HWND window = Window();
  ASSERT_EQ(GetParent(window), container_.window());
  // GetWindowContext offered 500 x 300: the site is told once, although it
  // answers with the same rectangle again.
  EXPECT_TRUE(Same(InParent(window), Placed(10, 20)));
  EXPECT_EQ(container_.pos_rect_changes, 1);
  EXPECT_TRUE(Same(container_.last_pos_rect, Placed(10, 20)));
  container_.insist_on = nullptr;

  const SIZE size = ControlPixels();
  const struct {
    SIZEL extent;
    RECT rect;
    bool told;
  } asks[] = {
      {{10000, 10000}, {0, 0, 500, 300}, true},
      {kExtent, {5, 6, 5 + size.cx, 6 + size.cy}, false},
  };
  for (const auto& ask : asks) {
    SIZEL extent = ask.extent;
    EXPECT_EQ(control_->SetExtent(DVASPECT_CONTENT, &extent),
              extent.cx == kExtent.cx ? S_OK : E_FAIL);
    const int told_before = container_.pos_rect_changes;
    RECT clip = {0, 0, 640, 480};
    EXPECT_HRESULT_SUCCEEDED(As<IOleInPlaceObject>()->SetObjectRects(&ask.rect, &clip));
    SIZEL object = {}, view = {};
    control_->GetExtent(DVASPECT_CONTENT, &object);
    As<IViewObject2>()->GetExtent(DVASPECT_CONTENT, -1, nullptr, &view);
    for (const SIZEL& got : {object, view}) {
      EXPECT_TRUE(got.cx == kExtent.cx && got.cy == kExtent.cy) << ask.extent.cx;
    }
    const RECT expected = Placed(ask.rect.left, ask.rect.top);
    EXPECT_TRUE(Same(InParent(window), expected)) << ask.rect.right;
    EXPECT_EQ(container_.pos_rect_changes - told_before, ask.told ? 1 : 0) << ask.rect.right;
    EXPECT_TRUE(!ask.told || Same(container_.last_pos_rect, expected)) << ask.rect.right;
  }
  // Resized behind the container's back, the window takes its size back.
  MoveWindow(window, 7, 8, 300, 300, TRUE);
  EXPECT_TRUE(Same(InParent(window), Placed(7, 8)));
}

TEST_F(Control, VerbsActivateShowAndHideUntilTheSiteGoes) {
  EXPECT_EQ(Window(), nullptr);
  const auto active = As<IOleInPlaceActiveObject>();
  const struct {
    LONG verb;
    HRESULT answer;
    bool visible, ui_active;
  } steps[] = {
      {OLEIVERB_INPLACEACTIVATE, S_OK, true, false}, {OLEIVERB_UIACTIVATE, S_OK, true, true},
      {OLEIVERB_HIDE, S_OK, false, false},           {OLEIVERB_SHOW, S_OK, true, true},
      {OLEIVERB_OPEN, E_NOTIMPL, true, true},        {OLEIVERB_HIDE, S_OK, false, false},
      {OLEIVERB_PRIMARY, S_OK, true, true},          {7, OLEOBJ_S_INVALIDVERB, true, true},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(Activate(step.verb), step.answer) << step.verb;
    const HWND window = Window();
    ASSERT_NE(window, nullptr) << step.verb;
    EXPECT_EQ((GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0, step.visible) << step.verb;
    EXPECT_EQ(container_.ui_active, step.ui_active) << step.verb;
    EXPECT_EQ(container_.active_object, step.ui_active ? active.Get() : nullptr) << step.verb;
  }
  const HWND window = Window();
  EXPECT_HRESULT_SUCCEEDED(control_->SetClientSite(nullptr));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(container_.ui_active);
  EXPECT_EQ(container_.activations, 1);
  EXPECT_EQ(container_.deactivations, 1);
}

// What it draws is compared with the module's bitmap copied by the test.
TEST_F(Control, DrawsItsFaceAtTheRectangleGivenAndPaintsItInItsWindow) {
  HBITMAP face =
      static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(L"Tarvex4.ocx"), MAKEINTRESOURCEW(IDB_FACE),
                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  BITMAP bitmap = {};
  ASSERT_TRUE(GetObjectW(face, sizeof(bitmap), &bitmap));
  const int width = bitmap.bmWidth, height = bitmap.bmHeight;
  ASSERT_EQ(width * height, 157 * 57);
  HDC face_dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ previous = SelectObject(face_dc, face);
  {
    // Twice its size, off the canvas's corner, the rest untouched.
    Canvas drawn(2 * width + 14, 2 * height + 9), expected(2 * width + 14, 2 * height + 9);
    const RECTL bounds = {10, 5, 10 + 2 * width, 5 + 2 * height};
    ASSERT_HRESULT_SUCCEEDED(As<IViewObject>()->Draw(
        DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, drawn.dc, &bounds, nullptr, nullptr, 0));
    StretchBlt(expected.dc, 10, 5, 2 * width, 2 * height, face_dc, 0, 0, width, height, SRCCOPY);
    EXPECT_FALSE(drawn == Canvas(2 * width + 14, 2 * height + 9)) << "nothing drawn";
    EXPECT_TRUE(drawn == expected);
  }
  // The window shows the face 1:1 and the button colour beside it.
  ASSERT_HRESULT_SUCCEEDED(Activate());
  const HWND window = Window();
  const SIZE size = ControlPixels();
  Canvas painted(size.cx, size.cy), expected(size.cx, size.cy);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC window_dc = GetDC(window);
  BitBlt(painted.dc, 0, 0, size.cx, size.cy, window_dc, 0, 0, SRCCOPY);
  ReleaseDC(window, window_dc);
  const RECT all = {0, 0, size.cx, size.cy};
  FillRect(expected.dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  BitBlt(expected.dc, 0, 0, width, height, face_dc, 0, 0, SRCCOPY);
  EXPECT_TRUE(painted == expected);
  SelectObject(face_dc, previous);
  DeleteDC(face_dc);
  DeleteObject(face);
}

// A container this project did not write: the system's ATL host window,
// given far more room than the control takes.
TEST(ForeignContainer, AtlHostShowsTheControlAtItsOwnSize) {
  HMODULE atl = LoadLibraryW(L"atl.dll");
  if (atl == nullptr) GTEST_SKIP() << "no atl.dll";
  auto* init = Export<BOOL WINAPI()>(atl, "AtlAxWinInit");
  auto* get_control = Export<HRESULT WINAPI(HWND, IUnknown**)>(atl, "AtlAxGetControl");
  ASSERT_TRUE(init != nullptr && get_control != nullptr && init());
  HWND form = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 200, nullptr,
                              nullptr, nullptr, nullptr);
  HWND host = CreateWindowExW(0, L"AtlAxWin", L"Tarvex4.Tarvex", WS_CHILD | WS_VISIBLE, 20, 20, 300,
                              150, form, nullptr, nullptr, nullptr);
  ComPtr<IUnknown> control;
  ASSERT_HRESULT_SUCCEEDED(get_control(host, &control));
  ComPtr<IOleWindow> in_place;
  ASSERT_HRESULT_SUCCEEDED(control.As(&in_place));
  HWND window = nullptr;
  ASSERT_HRESULT_SUCCEEDED(in_place->GetWindow(&window));
  EXPECT_TRUE(Same(InParent(window), Placed(0, 0)));
  in_place.Reset();
  control.Reset();
  DestroyWindow(form);
  EXPECT_TRUE(OcxCanUnload());
  FreeLibrary(atl);
}

TEST_F(Control, PersistsNothingAndSaysSo) {
  const auto persist = As<IPersistStreamInit>();
  CLSID clsid = {};
  EXPECT_HRESULT_SUCCEEDED(persist->GetClassID(&clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, __uuidof(::Tarvex)));
  EXPECT_HRESULT_SUCCEEDED(persist->InitNew());
  ComPtr<IStream> stream;
  ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream));
  EXPECT_HRESULT_SUCCEEDED(persist->Save(stream.Get(), TRUE));
  ULARGE_INTEGER written = {}, size_max = {};
  stream->Seek({}, STREAM_SEEK_CUR, &written);
  EXPECT_HRESULT_SUCCEEDED(persist->GetSizeMax(&size_max));
  EXPECT_EQ(written.QuadPart + size_max.QuadPart, 0u);
  EXPECT_HRESULT_SUCCEEDED(As<IPersistStream>()->Load(stream.Get()));
  EXPECT_HRESULT_SUCCEEDED(As<IPersistPropertyBag>()->InitNew());
}

std::vector<CONNECTDATA> Connections(IOleObject* control) {
  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> point;
  ComPtr<IEnumConnections> connections;
  std::vector<CONNECTDATA> found;
  control->QueryInterface(IID_PPV_ARGS(&points));
  points->FindConnectionPoint(__uuidof(__Tarvex), &point);
  point->EnumConnections(&connections);
  for (CONNECTDATA data; connections->Next(1, &data, nullptr) == S_OK; data.pUnk->Release()) {
    found.push_back(data);  // the sink is only compared
  }
  return found;
}

TEST_F(Control, QuickActivateConnectsTheContainerAndCloseLetsItGo) {
  QACONTAINER offer = {};
  offer.cbSize = sizeof(offer);
  offer.pClientSite = &container_;
  offer.pAdviseSink = &container_;
  offer.pUnkEventSink = static_cast<IDispatch*>(&container_);
  QACONTROL answer = {};
  answer.cbSize = sizeof(answer);
  ASSERT_HRESULT_SUCCEEDED(As<IQuickActivate>()->QuickActivate(&offer, &answer));
  EXPECT_EQ(answer.dwMiscStatus, kMiscStatus);
  // The registered value (checked by the registration test).
  DWORD status = 0;
  EXPECT_HRESULT_SUCCEEDED(control_->GetMiscStatus(DVASPECT_CONTENT, &status));
  EXPECT_EQ(status, kMiscStatus);
  EXPECT_EQ(answer.dwViewStatus, static_cast<DWORD>(VIEWSTATUS_OPAQUE));
  const std::vector<CONNECTDATA> connected = Connections(control_.Get());
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_EQ(connected[0].dwCookie, answer.dwEventCookie);
  EXPECT_EQ(connected[0].pUnk, static_cast<IUnknown*>(static_cast<IDispatch*>(&container_)));
  ComPtr<IAdviseSink> view_sink;
  EXPECT_HRESULT_SUCCEEDED(As<IViewObject>()->GetAdvise(nullptr, nullptr, &view_sink));
  EXPECT_EQ(view_sink.Get(), static_cast<IAdviseSink*>(&container_));
  view_sink.Reset();
  DWORD cookie = 0;
  EXPECT_HRESULT_SUCCEEDED(control_->Advise(&container_, &cookie));

  // The site it gave is the one activation uses; Close undoes it all.
  EXPECT_HRESULT_SUCCEEDED(control_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &container_, -1,
                                            container_.window(), &container_.offered));
  const HWND window = Window();
  EXPECT_EQ(GetParent(window), container_.window());
  EXPECT_HRESULT_SUCCEEDED(control_->Close(OLECLOSE_NOSAVE));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(container_.deactivations, 1);
  EXPECT_EQ(container_.closes, 1);
  EXPECT_TRUE(Connections(control_.Get()).empty());
  ComPtr<IOleClientSite> site;
  EXPECT_HRESULT_SUCCEEDED(control_->GetClientSite(&site));
  EXPECT_EQ(site.Get(), nullptr);
  EXPECT_TRUE(container_.events.empty());
}

// The component's own object, linked into this program, seen from inside.
class OwnerProbe : public TarvexObject {
 public:
  using TarvexObject::OwnerWindow;
};

TEST_F(Control, SettingsDialogBelongsToTheContainersWindow) {
  auto* probe = new OwnerProbe();
  IOleObject* object = probe;
  EXPECT_EQ(probe->OwnerWindow(), nullptr);
  EXPECT_HRESULT_SUCCEEDED(object->SetClientSite(&container_));
  EXPECT_EQ(probe->OwnerWindow(), container_.window());
  EXPECT_HRESULT_SUCCEEDED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &container_, -1,
                                          container_.window(), &container_.offered));
  EXPECT_EQ(probe->OwnerWindow(), container_.window());
  EXPECT_HRESULT_SUCCEEDED(object->Close(OLECLOSE_NOSAVE));
  EXPECT_EQ(probe->OwnerWindow(), nullptr);
  object->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace tarvex::com::testing

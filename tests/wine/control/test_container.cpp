#include "test_container.h"

#include <gtest/gtest.h>

#include "tarvex4_idl.h"
#include "wine_test.h"

namespace tarvex::com::testing {
namespace {

class OleApartment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(OleInitialize(nullptr)); }
  void TearDown() override { OleUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const apartment =
    ::testing::AddGlobalTestEnvironment(new OleApartment);

}  // namespace

ComPtr<IOleObject> CreateControl() {
  ComPtr<IOleObject> control;
  *control.GetAddressOf() = Create<IOleObject>(L"Tarvex4.Tarvex");
  return control;
}

bool OcxCanUnload() {
  HMODULE ocx = GetModuleHandleW(L"Tarvex4.ocx");
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(ocx, "DllCanUnloadNow")));
  return can_unload != nullptr && can_unload() == S_OK;
}

SIZE ControlPixels() {
  HDC screen = GetDC(nullptr);
  const SIZE size = {MulDiv(2400, GetDeviceCaps(screen, LOGPIXELSX), 1440),
                     MulDiv(855, GetDeviceCaps(screen, LOGPIXELSY), 1440)};
  ReleaseDC(nullptr, screen);
  return size;
}

TestContainer::TestContainer() {
  WNDCLASSEXW form = {};
  form.cbSize = sizeof(form);
  form.lpfnWndProc = DefWindowProcW;
  form.hInstance = GetModuleHandleW(nullptr);
  form.lpszClassName = L"TarvexTestForm";
  RegisterClassExW(&form);  // fails harmlessly from the second container on
  window_ = CreateWindowExW(0, form.lpszClassName, L"Form", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                            0, 0, 640, 480, nullptr, nullptr, form.hInstance, nullptr);
  ShowWindow(window_, SW_SHOWNOACTIVATE);
}

HRESULT TestContainer::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
    *out = static_cast<IOleInPlaceSite*>(this);
  } else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame)) {
    *out = static_cast<IOleInPlaceFrame*>(this);
  } else if (IsEqualIID(iid, IID_IAdviseSink) || IsEqualIID(iid, IID_IAdviseSinkEx)) {
    *out = static_cast<IAdviseSinkEx*>(this);
  } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(__Tarvex))) {
    *out = static_cast<IDispatch*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT TestContainer::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                        LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  *frame = this;
  AddRef();
  *doc = nullptr;  // the frame is the document window too
  *pos = offered;
  GetClientRect(window_, clip);
  *info = {sizeof(*info), FALSE, window_, nullptr, 0};
  return S_OK;
}

HRESULT TestContainer::OnPosRectChange(LPCRECT pos) {
  ++pos_rect_changes;
  last_pos_rect = *pos;
  ComPtr<IOleInPlaceObject> in_place;
  if (insist_on != nullptr && SUCCEEDED(insist_on->QueryInterface(IID_PPV_ARGS(&in_place)))) {
    RECT clip;
    GetClientRect(window_, &clip);
    in_place->SetObjectRects(&offered, &clip);
  }
  return S_OK;
}

}  // namespace tarvex::com::testing

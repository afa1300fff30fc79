// A form with one control on it, as small as an OLE container can be: a
// visible top-level window and one object that is the control's client site,
// in-place site, frame, advise sink and event sink, recording what the
// control tells it.  The C++ client uses it as a plain event sink.
//
// The test owns the container on its stack: the count starts at 1 and never
// deletes, so a test can check that the control let go of every reference.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "tarvex4_idl.h"

namespace tarvex::com::testing {

using Microsoft::WRL::ComPtr;

class TestContainer : public IOleClientSite,
                      public IOleInPlaceSite,
                      public IOleInPlaceFrame,
                      public IAdviseSinkEx,
                      public IDispatch {
 public:
  TestContainer()
      : window_(CreateWindowExW(0, L"STATIC", L"Form", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                                640, 480, nullptr, nullptr, nullptr, nullptr)) {
    ShowWindow(window_, SW_SHOWNOACTIVATE);
  }
  ~TestContainer() { DestroyWindow(window_); }
  HWND window() const { return window_; }
  ULONG refs() const { return refs_; }

  // What GetWindowContext offers: 500 x 300 pixels, not the control's size.
  RECT offered = {10, 20, 510, 320};
  // When set, OnPosRectChange answers with SetObjectRects(offered), as a
  // container does that insists on its own layout.
  IOleObject* insist_on = nullptr;

  int activations = 0, deactivations = 0, pos_rect_changes = 0, closes = 0;
  // Each SendProgress; all zero when its arguments did not come by reference.
  struct Progress {
    short modem, count, part;
    std::wstring text;
    bool operator==(const Progress&) const = default;
  };
  std::vector<Progress> events;
  bool ui_active = false;
  RECT last_pos_rect = {};
  IOleInPlaceActiveObject* active_object = nullptr;  // compared only

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
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
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return ++activations, S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return ui_active = true, S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                             LPRECT pos, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO info) override {
    *frame = this;
    AddRef();
    *doc = nullptr;  // the frame is the document window too
    *pos = offered;
    GetClientRect(window_, clip);
    *info = {sizeof(*info), FALSE, window_, nullptr, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return ui_active = false, S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return ++deactivations, S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT pos) override {
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
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
    return active_object = object, S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
  void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override { ++closes; }
  void STDMETHODCALLTYPE OnViewStatusChange(DWORD) override {}
  // IDispatch: the control's events
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    const VARIANTARG* a = params->rgvarg;  // right to left
    const bool by_reference = id == 1 && params->cArgs == 4 && V_VT(&a[3]) == (VT_BYREF | VT_I2) &&
                              V_VT(&a[2]) == V_VT(&a[3]) && V_VT(&a[1]) == V_VT(&a[3]) &&
                              V_VT(&a[0]) == (VT_BYREF | VT_BSTR);
    events.push_back(
        by_reference ? Progress{*V_I2REF(&a[3]), *V_I2REF(&a[2]), *V_I2REF(&a[1]),
                                std::wstring(*V_BSTRREF(&a[0]), SysStringLen(*V_BSTRREF(&a[0])))}
                     : Progress{});
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  HWND window_ = nullptr;
};

}  // namespace tarvex::com::testing

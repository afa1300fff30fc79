// TarvexObject as a control in a container: the site, in-place activation in
// a child window of the container's, drawing the face, the fixed size, empty
// persistence and quick activation.
//
// Choices a container can see:
// - The size is 2400 x 855 twips whatever is asked.  SetExtent answers
//   E_FAIL to any other size, as OLE has fixed-size objects do (containers
//   then ask GetExtent and lay out what they get); a rectangle from
//   SetObjectRects keeps only its top-left corner, and the site hears of the
//   real rectangle through OnPosRectChange.
// - The window class exists only while some control holds a window of it:
//   the last one unregisters it, so a module unloaded by
//   CoFreeUnusedLibraries leaves no class whose procedure points into freed
//   code, and a reloaded module registers its own.
// - Close drops the site, the advise sinks and the event sink QuickActivate
//   connected: they usually belong to the container object that holds the
//   control, and keeping them would keep a cycle alive.
#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <cstddef>

#include "module.h"
#include "resource.h"
#include "tarvex_object.h"

namespace tarvex::com {

using Microsoft::WRL::ComPtr;

namespace {

// 2400 x 855 twips in HIMETRIC (hundredths of a millimetre).
constexpr SIZEL kExtent = {4233, 1508};
constexpr int kHimetricPerInch = 2540;
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;
static_assert(kMiscStatus == 131473, "the registered MiscStatus");
constexpr wchar_t kWindowClass[] = L"Tarvex4Control";
constexpr wchar_t kObjectName[] = L"Tarvex";

// The picture is the same on screen and on a printer.
bool DrawnAspect(DWORD aspect) { return aspect == DVASPECT_CONTENT || aspect == DVASPECT_DOCPRINT; }

// The fixed size in pixels of the display, as the window has it.
SIZE FixedPixels() {
  HDC screen = GetDC(nullptr);
  const SIZE size = {MulDiv(kExtent.cx, GetDeviceCaps(screen, LOGPIXELSX), kHimetricPerInch),
                     MulDiv(kExtent.cy, GetDeviceCaps(screen, LOGPIXELSY), kHimetricPerInch)};
  ReleaseDC(nullptr, screen);
  return size;
}

// Callbacks into the container may make it release the control; a method
// that makes them holds a reference of its own until it returns.
class KeepAlive {
 public:
  explicit KeepAlive(IOleObject* object) : object_(object) { object_->AddRef(); }
  ~KeepAlive() { object_->Release(); }
  KeepAlive(const KeepAlive&) = delete;
  KeepAlive& operator=(const KeepAlive&) = delete;

 private:
  IOleObject* object_;
};

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

SRWLOCK class_lock = SRWLOCK_INIT;
int class_users = 0;

bool AcquireWindowClass() {
  AcquireSRWLockExclusive(&class_lock);
  bool ok = true;
  if (class_users == 0) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &ControlWindowProc;
    window_class.hInstance = ModuleInstance();
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kWindowClass;
    ok = RegisterClassExW(&window_class) != 0;
  }
  if (ok) ++class_users;
  ReleaseSRWLockExclusive(&class_lock);
  return ok;
}

void ReleaseWindowClass() {
  AcquireSRWLockExclusive(&class_lock);
  if (--class_users == 0) UnregisterClassW(kWindowClass, ModuleInstance());
  ReleaseSRWLockExclusive(&class_lock);
}

}  // namespace

struct ControlEmbedding {
  ComPtr<IOleClientSite> client_site;
  // Set from OnInPlaceActivate until OnInPlaceDeactivate.
  ComPtr<IOleInPlaceSite> in_place_site;
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> document;  // null when the frame is the document too
  ComPtr<IOleAdviseHolder> advise_holder;
  ComPtr<IAdviseSink> view_sink;
  DWORD view_aspects = 0;
  DWORD view_flags = 0;
  DWORD quick_event_cookie = 0;  // the container's event sink, from QuickActivate
  bool ui_active = false;
  bool telling_position = false;  // inside the site's OnPosRectChange
  HWND window = nullptr;          // cleared when the window goes, by whoever destroys it
  bool holds_class = false;
  HBITMAP face = nullptr;  // loaded on first use

  ControlEmbedding() = default;
  ControlEmbedding(const ControlEmbedding&) = delete;
  ControlEmbedding& operator=(const ControlEmbedding&) = delete;
  ~ControlEmbedding() {
    DestroyControlWindow();
    if (holds_class) ReleaseWindowClass();
    if (face != nullptr) DeleteObject(face);
  }

  // Made on first use, so that an enumeration without sinks is an empty one.
  HRESULT MakeAdviseHolder() {
    if (advise_holder != nullptr) return S_OK;
    return CreateOleAdviseHolder(advise_holder.ReleaseAndGetAddressOf());
  }

  HBITMAP Face() {
    if (face == nullptr) {
      face = static_cast<HBITMAP>(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDB_FACE),
                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    }
    return face;
  }

  bool CreateControlWindow(HWND parent, const RECT& pos) {
    if (!holds_class) {
      if (!AcquireWindowClass()) return false;
      holds_class = true;
    }
    const SIZE size = FixedPixels();
    window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS, pos.left, pos.top,
                             size.cx, size.cy, parent, nullptr, ModuleInstance(), this);
    return window != nullptr;
  }

  void DestroyControlWindow() {
    if (window == nullptr) return;
    HWND doomed = window;
    window = nullptr;
    // The procedure must not reach this object while it is being destroyed.
    SetWindowLongPtrW(doomed, GWLP_USERDATA, 0);
    DestroyWindow(doomed);
  }
};

void ControlEmbeddingDeleter::operator()(ControlEmbedding* embedding) const { delete embedding; }

ControlEmbedding* TarvexObject::NewEmbedding() { return new ControlEmbedding(); }

namespace {

void KeepSize(HWND window) {
  const SIZE size = FixedPixels();
  RECT now;
  GetWindowRect(window, &now);
  if (now.right - now.left != size.cx || now.bottom - now.top != size.cy) {
    SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// The face 1:1 at the top-left corner; what the fixed size has beyond it is
// the system's button colour.
void PaintFace(HWND window, HDC dc, ControlEmbedding* embedding) {
  RECT client;
  GetClientRect(window, &client);
  const int saved = SaveDC(dc);
  HBITMAP face = embedding != nullptr ? embedding->Face() : nullptr;
  BITMAP face_info = {};
  if (face != nullptr && GetObjectW(face, sizeof(face_info), &face_info) != 0) {
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, face);
    BitBlt(dc, 0, 0, face_info.bmWidth, face_info.bmHeight, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    ExcludeClipRect(dc, 0, 0, face_info.bmWidth, face_info.bmHeight);
  }
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  RestoreDC(dc, saved);
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* embedding = reinterpret_cast<ControlEmbedding*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
      break;
    case WM_SIZE:
      KeepSize(window);
      return 0;
    case WM_PAINT: {
      KeepSize(window);
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      PaintFace(window, dc, embedding);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintFace(window, reinterpret_cast<HDC>(wparam), embedding);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_NCDESTROY:
      // The container destroyed its window, and ours with it.
      if (embedding != nullptr) embedding->window = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

HWND TarvexObject::OwnerWindow() {
  ControlEmbedding& e = *embedding_;
  ComPtr<IOleInPlaceSite> site = e.in_place_site;
  if (site == nullptr && e.client_site != nullptr) e.client_site.As(&site);
  HWND window = nullptr;
  if (site == nullptr || FAILED(site->GetWindow(&window))) return nullptr;
  return window;
}

// IOleObject

HRESULT TarvexObject::SetClientSite(IOleClientSite* site) {
  ControlEmbedding& e = *embedding_;
  if (e.client_site.Get() == site) return S_OK;
  KeepAlive hold(this);
  // A window in the old container cannot stay.
  InPlaceDeactivate();
  e.client_site = site;
  return S_OK;
}

HRESULT TarvexObject::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  return embedding_->client_site.CopyTo(site);
}

HRESULT TarvexObject::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT TarvexObject::Close(DWORD) {
  ControlEmbedding& e = *embedding_;
  KeepAlive hold(this);
  InPlaceDeactivate();
  if (e.quick_event_cookie != 0) {
    // The container may have disconnected it already; either way it is gone.
    events_.Unadvise(e.quick_event_cookie);
    e.quick_event_cookie = 0;
  }
  // Swap, not Attach: mingw-w64's Attach adds a reference of its own.
  ComPtr<IOleAdviseHolder> holder;
  holder.Swap(e.advise_holder);
  if (holder != nullptr) holder->SendOnClose();
  e.view_sink.Reset();
  e.client_site.Reset();
  return S_OK;
}

HRESULT TarvexObject::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT TarvexObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT TarvexObject::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT TarvexObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data != nullptr) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT TarvexObject::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  switch (verb) {
    case OLEIVERB_INPLACEACTIVATE:
      return ActivateInPlace(false);
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
      return ActivateInPlace(true);
    case OLEIVERB_HIDE: {
      KeepAlive hold(this);
      UIDeactivate();
      if (embedding_->window != nullptr) ShowWindow(embedding_->window, SW_HIDE);
      return S_OK;
    }
    default:
      break;
  }
  if (verb < 0) return E_NOTIMPL;  // open, properties, undo: none of them here
  // OLE treats a verb an object does not know as the primary one.
  const HRESULT hr = ActivateInPlace(true);
  return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
}

HRESULT TarvexObject::ActivateInPlace(bool ui) {
  ControlEmbedding& e = *embedding_;
  if (e.client_site == nullptr) return E_UNEXPECTED;
  KeepAlive hold(this);
  if (e.in_place_site != nullptr && e.window == nullptr) InPlaceDeactivate();
  if (e.in_place_site == nullptr) {
    ComPtr<IOleInPlaceSite> site;
    if (FAILED(e.client_site.As(&site))) return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    const HRESULT hr = site->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    // From here a failure deactivates again, so the site hears both halves.
    e.in_place_site = site;
    HWND parent = nullptr;
    RECT pos = {};
    RECT clip = {};
    OLEINPLACEFRAMEINFO frame_info = {};
    frame_info.cb = sizeof(frame_info);
    if (FAILED(site->GetWindow(&parent)) ||
        FAILED(site->GetWindowContext(e.frame.ReleaseAndGetAddressOf(),
                                      e.document.ReleaseAndGetAddressOf(), &pos, &clip,
                                      &frame_info)) ||
        !e.CreateControlWindow(parent, pos)) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    PlaceWindow(pos, &clip);
  }
  if (e.window == nullptr) return E_FAIL;  // the site took it away again
  ShowWindow(e.window, SW_SHOWNA);
  if (!ui || e.ui_active) return S_OK;
  e.ui_active = true;
  e.in_place_site->OnUIActivate();
  if (!e.ui_active || e.window == nullptr) return S_OK;  // deactivated from inside the call
  SetFocus(e.window);
  IOleInPlaceActiveObject* active = this;
  // No menus and no tools: the frame keeps its own.
  if (e.frame != nullptr) {
    e.frame->SetActiveObject(active, kObjectName);
    e.frame->SetBorderSpace(nullptr);
  }
  if (e.document != nullptr) {
    e.document->SetActiveObject(active, kObjectName);
    e.document->SetBorderSpace(nullptr);
  }
  return S_OK;
}

void TarvexObject::PlaceWindow(const RECT& pos, const RECT* clip) {
  ControlEmbedding& e = *embedding_;
  if (e.window == nullptr) return;
  KeepAlive hold(this);
  const SIZE size = FixedPixels();
  const RECT placed = {pos.left, pos.top, pos.left + size.cx, pos.top + size.cy};
  SetWindowPos(e.window, nullptr, placed.left, placed.top, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  HRGN region = nullptr;  // all of the window shows
  RECT visible;
  if (clip != nullptr &&
      !(IntersectRect(&visible, &placed, clip) && EqualRect(&visible, &placed))) {
    if (IsRectEmpty(&visible)) SetRectEmpty(&visible);
    OffsetRect(&visible, -placed.left, -placed.top);
    region = CreateRectRgnIndirect(&visible);
  }
  // The window owns the region from here.
  SetWindowRgn(e.window, region, TRUE);
  const bool other_size = pos.right - pos.left != size.cx || pos.bottom - pos.top != size.cy;
  // A container that answers with the same rectangle again is not told twice.
  if (other_size && !e.telling_position && e.in_place_site != nullptr) {
    ComPtr<IOleInPlaceSite> site = e.in_place_site;
    e.telling_position = true;
    site->OnPosRectChange(&placed);
    e.telling_position = false;
  }
}

HRESULT TarvexObject::EnumVerbs(IEnumOLEVERB** verbs) {
  // No verbs are registered: OLEOBJ_E_NOVERBS tells a container there are
  // none for its menus.
  return OleRegEnumVerbs(__uuidof(::Tarvex), verbs);
}

HRESULT TarvexObject::Update() { return S_OK; }

HRESULT TarvexObject::IsUpToDate() { return S_OK; }

HRESULT TarvexObject::GetUserClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = __uuidof(::Tarvex);
  return S_OK;
}

HRESULT TarvexObject::GetUserType(DWORD form, LPOLESTR* name) {
  return OleRegGetUserType(__uuidof(::Tarvex), form, name);
}

HRESULT TarvexObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (!DrawnAspect(aspect)) return DV_E_DVASPECT;
  return size->cx == kExtent.cx && size->cy == kExtent.cy ? S_OK : E_FAIL;
}

HRESULT TarvexObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (!DrawnAspect(aspect)) return DV_E_DVASPECT;
  *size = kExtent;
  return S_OK;
}

HRESULT TarvexObject::Advise(IAdviseSink* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  ControlEmbedding& e = *embedding_;
  const HRESULT hr = e.MakeAdviseHolder();
  return FAILED(hr) ? hr : e.advise_holder->Advise(sink, cookie);
}

HRESULT TarvexObject::Unadvise(DWORD cookie) {
  ControlEmbedding& e = *embedding_;
  if (e.advise_holder == nullptr) return OLE_E_NOCONNECTION;
  return e.advise_holder->Unadvise(cookie);
}

HRESULT TarvexObject::EnumAdvise(IEnumSTATDATA** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ControlEmbedding& e = *embedding_;
  const HRESULT hr = e.MakeAdviseHolder();
  return FAILED(hr) ? hr : e.advise_holder->EnumAdvise(out);
}

HRESULT TarvexObject::GetMiscStatus(DWORD, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

HRESULT TarvexObject::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleWindow

HRESULT TarvexObject::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = embedding_->window;
  return *window != nullptr ? S_OK : E_FAIL;
}

HRESULT TarvexObject::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// IOleInPlaceObject

HRESULT TarvexObject::InPlaceDeactivate() {
  ControlEmbedding& e = *embedding_;
  if (e.in_place_site == nullptr) return S_OK;
  KeepAlive hold(this);
  UIDeactivate();
  e.DestroyControlWindow();
  e.frame.Reset();
  e.document.Reset();
  ComPtr<IOleInPlaceSite> site;
  site.Swap(e.in_place_site);
  site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT TarvexObject::UIDeactivate() {
  ControlEmbedding& e = *embedding_;
  if (!e.ui_active) return S_OK;
  KeepAlive hold(this);
  e.ui_active = false;
  if (e.frame != nullptr) e.frame->SetActiveObject(nullptr, nullptr);
  if (e.document != nullptr) e.document->SetActiveObject(nullptr, nullptr);
  if (e.in_place_site != nullptr) e.in_place_site->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT TarvexObject::SetObjectRects(LPCRECT pos, LPCRECT clip) {
  if (pos == nullptr) return E_POINTER;
  // Before activation there is nothing to place: activation takes the
  // rectangles from the site's GetWindowContext.
  PlaceWindow(*pos, clip);
  return S_OK;
}

HRESULT TarvexObject::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// IOleInPlaceActiveObject: no keys, no tools, no modeless windows.

HRESULT TarvexObject::TranslateAccelerator(LPMSG) { return S_FALSE; }

HRESULT TarvexObject::OnFrameWindowActivate(BOOL) { return S_OK; }

HRESULT TarvexObject::OnDocWindowActivate(BOOL) { return S_OK; }

HRESULT TarvexObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

HRESULT TarvexObject::EnableModeless(BOOL) { return S_OK; }

// IOleControl

HRESULT TarvexObject::GetControlInfo(CONTROLINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT TarvexObject::OnMnemonic(MSG*) { return S_OK; }

HRESULT TarvexObject::OnAmbientPropertyChange(DISPID) { return S_OK; }

// SendProgress is raised only inside the host's own call to a sending
// method, never while a container loads the control, so nothing is held back.
HRESULT TarvexObject::FreezeEvents(BOOL) { return S_OK; }

// IViewObject2

HRESULT TarvexObject::Draw(DWORD aspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC dc,
                           LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                           ULONG_PTR) {
  if (!DrawnAspect(aspect)) return DV_E_DVASPECT;
  if (lindex != -1) return DV_E_LINDEX;
  if (dc == nullptr || bounds == nullptr) return E_INVALIDARG;
  HBITMAP face = embedding_->Face();
  BITMAP face_info = {};
  if (face == nullptr || GetObjectW(face, sizeof(face_info), &face_info) == 0) return E_FAIL;
  // Compatible with the screen, not with `dc`, which may be a metafile.
  HDC source = CreateCompatibleDC(nullptr);
  if (source == nullptr) return E_OUTOFMEMORY;
  HGDIOBJ previous = SelectObject(source, face);
  const int saved = SaveDC(dc);
  SetStretchBltMode(dc, COLORONCOLOR);
  const BOOL drawn = StretchBlt(dc, bounds->left, bounds->top, bounds->right - bounds->left,
                                bounds->bottom - bounds->top, source, 0, 0, face_info.bmWidth,
                                face_info.bmHeight, SRCCOPY);
  RestoreDC(dc, saved);
  SelectObject(source, previous);
  DeleteDC(source);
  return drawn ? S_OK : E_FAIL;
}

HRESULT TarvexObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  if (colors == nullptr) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;  // no palette of its own
}

HRESULT TarvexObject::Freeze(DWORD, LONG, void*, DWORD* cookie) {
  if (cookie != nullptr) *cookie = 0;
  return E_NOTIMPL;
}

HRESULT TarvexObject::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT TarvexObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  ControlEmbedding& e = *embedding_;
  e.view_sink = sink;
  e.view_aspects = aspects;
  e.view_flags = flags;
  // The face never changes, so the only notice a sink ever gets is the one
  // it may ask for at once.
  if (sink != nullptr && (flags & ADVF_PRIMEFIRST) != 0) sink->OnViewChange(DVASPECT_CONTENT, -1);
  return S_OK;
}

HRESULT TarvexObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  const ControlEmbedding& e = *embedding_;
  if (aspects != nullptr) *aspects = e.view_aspects;
  if (flags != nullptr) *flags = e.view_flags;
  if (sink != nullptr) e.view_sink.CopyTo(sink);
  return S_OK;
}

HRESULT TarvexObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// IPersistStreamInit and IPersistPropertyBag: the control has no
// properties, so a container's stream or bag stays empty.

HRESULT TarvexObject::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }

HRESULT TarvexObject::IsDirty() { return S_FALSE; }

HRESULT TarvexObject::Load(LPSTREAM stream) { return stream != nullptr ? S_OK : E_POINTER; }

HRESULT TarvexObject::Save(LPSTREAM stream, BOOL) { return stream != nullptr ? S_OK : E_POINTER; }

HRESULT TarvexObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}

HRESULT TarvexObject::InitNew() { return S_OK; }

HRESULT TarvexObject::Load(IPropertyBag* bag, IErrorLog*) {
  return bag != nullptr ? S_OK : E_POINTER;
}

HRESULT TarvexObject::Save(IPropertyBag* bag, BOOL, BOOL) {
  return bag != nullptr ? S_OK : E_POINTER;
}

// IQuickActivate

HRESULT TarvexObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (container == nullptr || control == nullptr) return E_POINTER;
  // Older containers pass shorter structures; what is read or written here
  // is in every version.
  if (container->cbSize < offsetof(QACONTAINER, dwAmbientFlags) ||
      control->cbSize < offsetof(QACONTROL, dwPointerActivationPolicy)) {
    return E_INVALIDARG;
  }
  ControlEmbedding& e = *embedding_;
  KeepAlive hold(this);
  const HRESULT hr = SetClientSite(container->pClientSite);
  if (FAILED(hr)) return hr;
  if (container->pAdviseSink != nullptr) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  if (e.quick_event_cookie != 0) {
    events_.Unadvise(e.quick_event_cookie);
    e.quick_event_cookie = 0;
  }
  // A sink that is no dispatch interface stays unconnected, as Advise has it;
  // the container sees the cookie 0.
  if (container->pUnkEventSink != nullptr) {
    events_.Advise(container->pUnkEventSink, &e.quick_event_cookie);
  }
  control->dwMiscStatus = kMiscStatus;
  control->dwViewStatus = VIEWSTATUS_OPAQUE;
  control->dwEventCookie = e.quick_event_cookie;
  control->dwPropNotifyCookie = 0;  // no bindable properties
  if (control->cbSize >= sizeof(QACONTROL)) control->dwPointerActivationPolicy = 0;
  return S_OK;
}

HRESULT TarvexObject::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT TarvexObject::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

}  // namespace tarvex::com

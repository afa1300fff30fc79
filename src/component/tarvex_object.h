// The control Tarvex as a COM object: the engine with its five serial ports
// on the Win32 platform, served through the dual interface _Tarvex, its
// events __Tarvex through a connection point, and the class information a
// container asks for.  The OLE embedding a form expects of a control (site,
// in-place window, drawing, empty persistence, quick activation) is in
// tarvex_control.cpp; a script host that creates the object without a
// container uses none of it.
//
// One object per control; it owns its engine, ports and platform objects for
// its whole life, and, while it sits in a container, references to the
// container's site, frame and sinks (dropped on Close or SetClientSite(null),
// so the container's last Release destroys it).  Apartment-threaded: every
// call comes on the thread that created it.  Engine failures leave as HRESULT
// 0x800A0000 + number with IErrorInfo (com_util.h); embedding calls return
// the OLE codes containers expect.
#pragma once

// First: it takes back the name SendMessage from <windows.h> before the
// engine's header declares its member of that name.
// clang-format off
#include "tarvex4_idl.h"
// clang-format on

#include <atomic>
#include <memory>

#include "com_util.h"
#include "connection_point.h"
#include "dispatch.h"
#include "platform/registry_user_settings.h"
#include "platform/win32/win32_platform.h"
#include "tarvex/engine.h"

namespace tarvex::com {

// What the control keeps while a container holds it (tarvex_control.cpp).
struct ControlEmbedding;
struct ControlEmbeddingDeleter {
  void operator()(ControlEmbedding* embedding) const;
};

class TarvexObject : public DualDispatch<_Tarvex>,
                     public IProvideClassInfo2,
                     public IConnectionPointContainer,
                     public ISupportErrorInfo,
                     public IOleObject,
                     public IOleInPlaceObject,
                     public IOleInPlaceActiveObject,
                     public IOleControl,
                     public IViewObject2,
                     public IPersistStreamInit,
                     public IPersistPropertyBag,
                     public IQuickActivate,
                     private CountedObject {
 public:
  TarvexObject();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // _Tarvex
  HRESULT STDMETHODCALLTYPE Setting() override;
  HRESULT STDMETHODCALLTYPE DeviceOpen(short* ModemID, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE DeviceClose(short* ModemID, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE SendCommand(short* ModemID, BSTR* Command, LONG* TimeOut,
                                        BSTR* result) override;
  HRESULT STDMETHODCALLTYPE GetMessageStorageID(short* ModemID, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE SetMessageStorageID(short* ModemID, BSTR* StorageID,
                                                BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DeviceManufacture(short* ModemID, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DeviceModel(short* ModemID, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DeviceIMEI(short* ModemID, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE ReadMessage(short* ModemID, ::enumInbox* Inbox,
                                        _Collection** result) override;
  HRESULT STDMETHODCALLTYPE SendMessage(short* ModemID, BSTR* PhoneNumber, BSTR* MessageText,
                                        BSTR* result) override;
  HRESULT STDMETHODCALLTYPE SendLongMessage(short* ModemID, BSTR* PhoneNumber, BSTR* MessageText,
                                            BSTR* result) override;
  HRESULT STDMETHODCALLTYPE RemoveMessage(short* ModemID, LONG* Index, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE DeviceName(short* ModemID, BSTR* result) override;

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* active_site, LONG lindex,
                                   HWND parent, LPCRECT pos) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* name) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** out) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

  // IOleWindow (of IOleInPlaceObject and IOleInPlaceActiveObject)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceObject
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;

  // IOleInPlaceActiveObject
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                         BOOL frame) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

  // IOleControl
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

  // IViewObject2
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG lindex, void* aspect_info,
                                 DVTARGETDEVICE* device, HDC target_device, HDC dc, LPCRECTL bounds,
                                 LPCRECTL window_bounds,
                                 BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                                 ULONG_PTR keep_going_arg) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG lindex, void* aspect_info,
                                        DVTARGETDEVICE* device, HDC target_device,
                                        LOGPALETTE** colors) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG lindex, void* aspect_info,
                                   DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE* device,
                                      LPSIZEL size) override;

  // IPersist (of IPersistStreamInit and IPersistPropertyBag)
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IPersistStreamInit and IPersistPropertyBag: there is nothing to keep.
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;

  // IQuickActivate
  HRESULT STDMETHODCALLTYPE QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  HRESULT STDMETHODCALLTYPE SetContentExtent(LPSIZEL size) override;
  HRESULT STDMETHODCALLTYPE GetContentExtent(LPSIZEL size) override;

 protected:
  virtual ~TarvexObject();

  // The window the settings dialog belongs to: the container's, when the
  // control sits in one; none otherwise.
  virtual HWND OwnerWindow();

 private:
  void RaiseSendProgress(int16_t ModemID, int16_t MessageCount, int16_t PartNumber,
                         const std::u16string& MessageText);
  // Runs a call that yields text into *result.
  template <typename Body>
  HRESULT TextResult(BSTR* result, Body&& body);

  std::atomic<ULONG> refs_{1};
  win32::Win32Registry registry_;
  RegistryUserSettings user_settings_{registry_};
  win32::Win32Clock clock_;
  win32::Win32MessagePump pump_;
  ConnectionPoint events_;
  std::unique_ptr<Tarvex> engine_;

  // Embedding (tarvex_control.cpp).
  static ControlEmbedding* NewEmbedding();
  HRESULT ActivateInPlace(bool ui);
  void PlaceWindow(const RECT& pos, const RECT* clip);
  std::unique_ptr<ControlEmbedding, ControlEmbeddingDeleter> embedding_{NewEmbedding()};
};

}  // namespace tarvex::com

// The control Tarvex as a COM object: the engine with its five serial ports
// on the Win32 platform, served through the dual interface _Tarvex, its
// events __Tarvex through a connection point, and the class information a
// container asks for.
//
// One object per control; it owns its engine, ports and platform objects for
// its whole life.  Apartment-threaded: every call comes on the thread that
// created it.  Engine failures leave as HRESULT 0x800A0000 + number with
// IErrorInfo (com_util.h).
#pragma once

// First: it takes back the name SendMessage from <windows.h> before the
// engine's header declares its member of that name.
// clang-format off
#include "tarvex4_idl.h"
// clang-format on

#include <atomic>
#include <memory>

#include "com_util.h"
#include "config/registry_user_settings.h"
#include "connection_point.h"
#include "dispatch.h"
#include "engine/tarvex.h"
#include "platform/win32/win32_platform.h"

namespace tarvex::com {

class TarvexObject : public DualDispatch<_Tarvex>,
                     public IProvideClassInfo2,
                     public IConnectionPointContainer,
                     public ISupportErrorInfo,
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

 protected:
  virtual ~TarvexObject();

  // The window the settings dialog belongs to: the container's, when the
  // control sits in one; none otherwise.
  virtual HWND OwnerWindow() { return nullptr; }

 private:
  void RaiseSendProgress(int16_t& ModemID, int16_t& MessageCount, int16_t& PartNumber,
                         std::u16string& MessageText);
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
};

}  // namespace tarvex::com

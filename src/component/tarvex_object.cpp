#include "tarvex_object.h"

#include <new>

#include "collection_object.h"
#include "common/text.h"
#include "enumerators.h"
#include "objects.h"
#include "settings_dialog.h"

namespace tarvex::com {
namespace {

constexpr DISPID kSendProgress = 1;

Tarvex::Ports MakePorts() {
  Tarvex::Ports ports;
  for (auto& port : ports) port = std::make_unique<win32::Win32SerialPort>();
  return ports;
}

}  // namespace

TarvexObject::TarvexObject()
    : events_(static_cast<IConnectionPointContainer*>(this), __uuidof(__Tarvex)),
      engine_(std::make_unique<Tarvex>(MakePorts(), clock_, registry_)) {
  engine_->SetMessagePump(&pump_);
  engine_->SetSettingsDialog(
      [this] { ShowSettingsDialog(OwnerWindow(), registry_, user_settings_); });
  engine_->OnSendProgress(
      [this](int16_t id, int16_t count, int16_t part, const std::u16string& text) {
        RaiseSendProgress(id, count, part, text);
      });
}

TarvexObject::~TarvexObject() {
  events_.DisconnectAll();
  // The engine closes its ports when it goes.
  engine_.reset();
}

HRESULT TarvexObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, __uuidof(_Tarvex))) {
    *out = static_cast<_Tarvex*>(this);
  } else if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)) {
    *out = static_cast<IProvideClassInfo2*>(this);
  } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
    *out = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = static_cast<ISupportErrorInfo*>(this);
  } else if (IsEqualIID(iid, IID_IOleObject)) {
    *out = static_cast<IOleObject*>(this);
  } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceObject)) {
    *out = static_cast<IOleInPlaceObject*>(this);
  } else if (IsEqualIID(iid, IID_IOleInPlaceActiveObject)) {
    *out = static_cast<IOleInPlaceActiveObject*>(this);
  } else if (IsEqualIID(iid, IID_IOleControl)) {
    *out = static_cast<IOleControl*>(this);
  } else if (IsEqualIID(iid, IID_IViewObject) || IsEqualIID(iid, IID_IViewObject2)) {
    *out = static_cast<IViewObject2*>(this);
  } else if (IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IPersistStreamInit) ||
             IsEqualIID(iid, IID_IPersistStream)) {
    // IPersistStream's slots are the first ones of IPersistStreamInit, in the
    // same order, so older containers that ask for it get the same object.
    *out = static_cast<IPersistStreamInit*>(this);
  } else if (IsEqualIID(iid, IID_IPersistPropertyBag)) {
    *out = static_cast<IPersistPropertyBag*>(this);
  } else if (IsEqualIID(iid, IID_IQuickActivate)) {
    *out = static_cast<IQuickActivate*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TarvexObject::AddRef() { return ++refs_; }

ULONG TarvexObject::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

template <typename Body>
HRESULT TarvexObject::TextResult(BSTR* result, Body&& body) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  return Guarded(__uuidof(_Tarvex), [&] { *result = MakeBstr(std::string_view(body())); });
}

HRESULT TarvexObject::Setting() {
  return Guarded(__uuidof(_Tarvex), [&] { engine_->Setting(); });
}

HRESULT TarvexObject::DeviceOpen(short* ModemID, VARIANT_BOOL* result) {
  if (ModemID == nullptr || result == nullptr) return E_POINTER;
  *result = VARIANT_FALSE;
  return Guarded(__uuidof(_Tarvex),
                 [&] { *result = ToVariantBool(engine_->DeviceOpen(*ModemID)); });
}

HRESULT TarvexObject::DeviceClose(short* ModemID, VARIANT_BOOL* result) {
  if (ModemID == nullptr || result == nullptr) return E_POINTER;
  *result = VARIANT_FALSE;
  return Guarded(__uuidof(_Tarvex),
                 [&] { *result = ToVariantBool(engine_->DeviceClose(*ModemID)); });
}

HRESULT TarvexObject::SendCommand(short* ModemID, BSTR* Command, LONG* TimeOut, BSTR* result) {
  if (ModemID == nullptr || Command == nullptr) return E_POINTER;
  // A vtable caller may leave the optional TimeOut out with a null pointer.
  const int32_t timeout = TimeOut != nullptr ? *TimeOut : 10000;
  return TextResult(result,
                    [&] { return engine_->SendCommand(*ModemID, ToUtf8(*Command), timeout); });
}

HRESULT TarvexObject::GetMessageStorageID(short* ModemID, BSTR* result) {
  if (ModemID == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->GetMessageStorageID(*ModemID); });
}

HRESULT TarvexObject::SetMessageStorageID(short* ModemID, BSTR* StorageID, BSTR* result) {
  if (ModemID == nullptr || StorageID == nullptr) return E_POINTER;
  return TextResult(result,
                    [&] { return engine_->SetMessageStorageID(*ModemID, ToUtf8(*StorageID)); });
}

HRESULT TarvexObject::DeviceManufacture(short* ModemID, BSTR* result) {
  if (ModemID == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->DeviceManufacture(*ModemID); });
}

HRESULT TarvexObject::DeviceModel(short* ModemID, BSTR* result) {
  if (ModemID == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->DeviceModel(*ModemID); });
}

HRESULT TarvexObject::DeviceIMEI(short* ModemID, BSTR* result) {
  if (ModemID == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->DeviceIMEI(*ModemID); });
}

HRESULT TarvexObject::ReadMessage(short* ModemID, ::enumInbox* Inbox, _Collection** result) {
  if (ModemID == nullptr || Inbox == nullptr || result == nullptr) return E_POINTER;
  *result = nullptr;
  return Guarded(__uuidof(_Tarvex), [&] {
    const Collection<std::string> entries =
        engine_->ReadMessage(*ModemID, static_cast<int32_t>(*Inbox));
    std::vector<std::u16string> texts;
    texts.reserve(static_cast<size_t>(entries.Count()));
    for (const std::string& entry : entries) texts.push_back(Utf8ToUtf16(entry));
    *result = MakeTextCollection(texts);
  });
}

HRESULT TarvexObject::SendMessage(short* ModemID, BSTR* PhoneNumber, BSTR* MessageText,
                                  BSTR* result) {
  if (ModemID == nullptr || PhoneNumber == nullptr || MessageText == nullptr) return E_POINTER;
  return TextResult(result, [&] {
    std::u16string text = ToU16(*MessageText);
    // The engine cuts the text to what one message carries; the caller's
    // variable gets the cut text even when the send then fails.
    struct WriteBack {
      BSTR* target;
      std::u16string& text;
      ~WriteBack() {
        try {
          AssignBstr(target, text);
        } catch (...) {
          // Out of memory: the caller keeps the text it passed.
        }
      }
    } write_back{MessageText, text};
    return engine_->SendMessage(*ModemID, ToUtf8(*PhoneNumber), text);
  });
}

HRESULT TarvexObject::SendLongMessage(short* ModemID, BSTR* PhoneNumber, BSTR* MessageText,
                                      BSTR* result) {
  if (ModemID == nullptr || PhoneNumber == nullptr || MessageText == nullptr) return E_POINTER;
  return TextResult(result, [&] {
    return engine_->SendLongMessage(*ModemID, ToUtf8(*PhoneNumber), ToU16(*MessageText));
  });
}

HRESULT TarvexObject::RemoveMessage(short* ModemID, LONG* Index, BSTR* result) {
  if (ModemID == nullptr || Index == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->RemoveMessage(*ModemID, *Index); });
}

HRESULT TarvexObject::DeviceName(short* ModemID, BSTR* result) {
  if (ModemID == nullptr) return E_POINTER;
  return TextResult(result, [&] { return engine_->DeviceName(*ModemID); });
}

void TarvexObject::RaiseSendProgress(int16_t ModemID, int16_t MessageCount, int16_t PartNumber,
                                     const std::u16string& MessageText) {
  Bstr text(
      std::wstring_view(reinterpret_cast<const wchar_t*>(MessageText.data()), MessageText.size()));
  BSTR value = text.get();
  // Arguments go right to left; all four by reference, as the event declares
  // them.  A sink may change them, but they are copies: the send goes on
  // with the engine's own values.
  VARIANTARG args[4];
  V_VT(&args[3]) = VT_BYREF | VT_I2;
  V_I2REF(&args[3]) = &ModemID;
  V_VT(&args[2]) = VT_BYREF | VT_I2;
  V_I2REF(&args[2]) = &MessageCount;
  V_VT(&args[1]) = VT_BYREF | VT_I2;
  V_I2REF(&args[1]) = &PartNumber;
  V_VT(&args[0]) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&args[0]) = &value;
  DISPPARAMS params = {args, nullptr, 4, 0};
  events_.Fire(kSendProgress, &params);
  // A sink that replaced the text handed us its string to free.
  if (value != text.get()) SysFreeString(value);
}

HRESULT TarvexObject::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = TypeInfoOf(__uuidof(::Tarvex));
  return *info != nullptr ? S_OK : E_UNEXPECTED;
}

HRESULT TarvexObject::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = __uuidof(__Tarvex);
  return S_OK;
}

HRESULT TarvexObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = MakeConnectionPointEnumerator({static_cast<IConnectionPoint*>(&events_)});
  return S_OK;
}

HRESULT TarvexObject::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  if (out == nullptr) return E_POINTER;
  if (!IsEqualIID(iid, __uuidof(__Tarvex))) {
    *out = nullptr;
    return CONNECT_E_NOCONNECTION;
  }
  *out = &events_;
  events_.AddRef();
  return S_OK;
}

HRESULT TarvexObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, __uuidof(_Tarvex)) ? S_OK : S_FALSE;
}

HRESULT CreateTarvex(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  TarvexObject* object = nullptr;
  try {
    object = new TarvexObject();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace tarvex::com

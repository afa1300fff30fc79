// SMSDeliver: one received message, decoded by the core's SMSDeliver.
#include <atomic>
#include <new>

#include "com_util.h"
#include "dispatch.h"
#include "objects.h"
#include "tarvex/sms_deliver.h"
#include "tarvex4_idl.h"

namespace tarvex::com {
namespace {

class SMSDeliverObject final : public DualDispatch<_SMSDeliver>,
                               public ISupportErrorInfo,
                               private CountedObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(_SMSDeliver))) {
      *out = static_cast<_SMSDeliver*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(_SMSDeliver)) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE get_MessageID(BSTR* v) override {
    return GetText(v, [&] { return MakeBstr(message_.MessageID()); });
  }
  HRESULT STDMETHODCALLTYPE put_MessageID(BSTR v) override {
    return Set([&] { message_.SetMessageID(ToUtf8(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_PhoneNumber(BSTR* v) override {
    return GetText(v, [&] { return MakeBstr(message_.PhoneNumber()); });
  }
  HRESULT STDMETHODCALLTYPE put_PhoneNumber(BSTR v) override {
    return Set([&] { message_.SetPhoneNumber(ToUtf8(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_MessageTime(DATE* v) override {
    if (v == nullptr) return E_POINTER;
    *v = message_.MessageTime().date;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_MessageTime(DATE v) override {
    return Set([&] {
      MessageTimeValue time{};
      time.date = v;
      SYSTEMTIME fields{};
      if (VariantTimeToSystemTime(v, &fields)) {
        time.year = fields.wYear;
        time.month = fields.wMonth;
        time.day = fields.wDay;
        time.hour = fields.wHour;
        time.minute = fields.wMinute;
        time.second = fields.wSecond;
      }
      message_.SetMessageTime(time);
    });
  }
  HRESULT STDMETHODCALLTYPE get_MessageText(BSTR* v) override {
    return GetText(v, [&] { return MakeBstr(std::u16string_view(message_.MessageText())); });
  }
  HRESULT STDMETHODCALLTYPE put_MessageText(BSTR v) override {
    return Set([&] { message_.SetMessageText(ToU16(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_MultiPartSMS(VARIANT_BOOL* v) override {
    if (v == nullptr) return E_POINTER;
    *v = ToVariantBool(message_.MultiPartSMS());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_MultiPartSMS(VARIANT_BOOL v) override {
    message_.SetMultiPartSMS(v != VARIANT_FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_MultiPartSMSRef(BSTR* v) override {
    return GetText(v, [&] { return MakeBstr(message_.MultiPartSMSRef()); });
  }
  HRESULT STDMETHODCALLTYPE put_MultiPartSMSRef(BSTR v) override {
    return Set([&] { message_.SetMultiPartSMSRef(ToUtf8(v)); });
  }
  HRESULT STDMETHODCALLTYPE get_MultiPartSMSCount(short* v) override {
    if (v == nullptr) return E_POINTER;
    *v = message_.MultiPartSMSCount();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_MultiPartSMSCount(short v) override {
    message_.SetMultiPartSMSCount(v);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_MultiPartSMSNumber(short* v) override {
    if (v == nullptr) return E_POINTER;
    *v = message_.MultiPartSMSNumber();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_MultiPartSMSNumber(short v) override {
    message_.SetMultiPartSMSNumber(v);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Decode(BSTR* SMSDeliverPDU) override {
    if (SMSDeliverPDU == nullptr) return E_POINTER;
    return Guarded(__uuidof(_SMSDeliver), [&] {
      // The argument keeps only the PDU, the text after the first CR LF, as
      // soon as the entry has one: also when the PDU then fails to decode,
      // since the index was taken off before.  Cut in UTF-16, so the rest
      // reaches the caller exactly as it was given.
      const std::u16string given = ToU16(*SMSDeliverPDU);
      const size_t crlf = given.find(u"\r\n");
      Bstr pdu;
      if (crlf != std::u16string::npos) *pdu.out() = MakeBstr(given.substr(crlf + 2));
      const auto hand_back = [&] {
        if (pdu.get() == nullptr) return;
        SysFreeString(*SMSDeliverPDU);
        *SMSDeliverPDU = pdu.release();
      };
      std::string entry = ToUtf8(*SMSDeliverPDU);
      try {
        message_.Decode(entry);
      } catch (...) {
        hand_back();
        throw;
      }
      hand_back();
    });
  }

 private:
  ~SMSDeliverObject() = default;

  template <typename Make>
  HRESULT GetText(BSTR* out, Make&& make) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return Guarded(__uuidof(_SMSDeliver), [&] { *out = make(); });
  }
  template <typename Body>
  HRESULT Set(Body&& body) {
    return Guarded(__uuidof(_SMSDeliver), std::forward<Body>(body));
  }

  std::atomic<ULONG> refs_{1};
  SMSDeliver message_;
};

}  // namespace

HRESULT CreateSMSDeliver(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) SMSDeliverObject();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace tarvex::com

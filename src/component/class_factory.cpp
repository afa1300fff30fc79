// One static class factory per creatable class.  TRegistry and the
// collection are public in the type library but made only by the component
// itself, so asking for their factories fails as for any unknown class.
#include <new>

#include "com_util.h"
#include "objects.h"
#include "server.h"
#include "tarvex4_idl.h"

namespace tarvex::com {
namespace {

class ClassFactory : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID, void**);
  explicit constexpr ClassFactory(Create create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static objects: a reference held by a host keeps the server loaded, as
  // a lock does.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++LockCount()); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--LockCount()); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++LockCount();
    } else {
      --LockCount();
    }
    return S_OK;
  }

 private:
  Create create_;
};

ClassFactory tarvex_factory(&CreateTarvex);
ClassFactory sms_deliver_factory(&CreateSMSDeliver);

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (IsEqualCLSID(clsid, __uuidof(::Tarvex))) return tarvex_factory.QueryInterface(iid, out);
  if (IsEqualCLSID(clsid, __uuidof(::SMSDeliver))) {
    return sms_deliver_factory.QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() { return ObjectCount() == 0 && LockCount() == 0 ? S_OK : S_FALSE; }

}  // namespace tarvex::com

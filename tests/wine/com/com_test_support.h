// What the COM client tests share: an apartment per test program, calls by
// name through IDispatch as a script host makes them, a SendProgress sink,
// and the slot that the modem simulator serves (TARVEX_TEST_COM names its
// COM port; tests that need a modem skip without it).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarvex4_idl.h"
#include "wine_test.h"

namespace tarvex::com::testing {

// A VARIANT owned by the test.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const wchar_t* text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
  }
  explicit Var(const std::wstring& text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  explicit Var(short value) {
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
  }
  explicit Var(LONG value) {
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
  }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  std::wstring Text() const {
    return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                                             : L"";
  }
};

// What one Invoke gave.
struct Outcome {
  HRESULT hr = E_FAIL;
  SCODE scode = 0;      // EXCEPINFO's, for DISP_E_EXCEPTION
  std::wstring source;  // EXCEPINFO's
  std::wstring description;
  Var result;
};

DISPID IdOf(IDispatch* object, const wchar_t* name);
// Calls `name` with `args` (left to right; a VARIANT* passes as VT_BYREF|
// VT_VARIANT, as a script passes its variables).
void Call(IDispatch* object, const wchar_t* name, const std::vector<VARIANT*>& args, Outcome* out,
          WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET);
// The VB error number a failed call carries (0x800A0000 + n), or -1.
int ErrorNumber(HRESULT hr);

// A SendProgress sink that records what it was given; the test owns it.
class ProgressSink : public IDispatch {
 public:
  struct Event {
    short modem, count, part;
    std::wstring text;
    bool all_by_reference;
  };
  std::vector<Event> events;
  ULONG refs() const { return refs_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override;

 private:
  ULONG refs_ = 1;
};

// The COM port the simulator serves, 0 without one.
short ModemPort();
// Slot 1 pointed at the simulator's port in HKLM for the life of the object.
class ModemSlot {
 public:
  ModemSlot();
  ~ModemSlot();
};

}  // namespace tarvex::com::testing

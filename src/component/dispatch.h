// IDispatch for the component's dual interfaces, served from the embedded type
// library: names and DISPIDs come from the library, and Invoke calls the
// interface's own vtable slot, so no member is written twice.
//
// Invoke is ours rather than ITypeInfo::Invoke because hosts (and Wine's
// oleaut32) differ in what they hand over: an omitted optional argument gets
// the default the library declares; a script's VT_BYREF|VT_VARIANT argument is
// converted in place to the parameter's type and passed by reference, so the
// callee's change reaches the caller's variable; a by-value argument for a
// by-reference parameter is passed as a converted copy.  Named arguments and
// DISPID_PROPERTYPUT are honoured; a method that takes nothing and gives a
// value may be read as a property.  A failing member's HRESULT and IErrorInfo
// become DISP_E_EXCEPTION with a filled EXCEPINFO.  Whatever a host passes,
// nothing crashes: the DISPPARAMS are checked whole before any member runs
// (E_INVALIDARG, E_POINTER), and so are the names of GetIDsOfNames.
//
// The type library is loaded once per process from the module; any thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tarvex::com {

// The module's type library (not AddRef'd for the caller; lives until unload).
ITypeLib* TypeLibrary();
// The type info a host sees for an interface or class GUID (for a dual
// interface: its dispatch view), AddRef'd; nullptr when missing.
ITypeInfo* TypeInfoOf(REFGUID guid);

// The four IDispatch members, for an object whose dual interface `iid` is
// implemented at `instance`.
HRESULT DispatchGetTypeInfo(REFIID iid, UINT index, ITypeInfo** info);
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispatchInvoke(REFIID iid, IDispatch* instance, DISPID member, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* arg_error);

// Implements IDispatch for a class deriving from the dual interface `Dual`.
template <typename Dual>
class DualDispatch : public Dual {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    return DispatchGetTypeInfo(__uuidof(Dual), index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispatchGetIDsOfNames(__uuidof(Dual), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return DispatchInvoke(__uuidof(Dual), static_cast<Dual*>(this), member, flags, params, result,
                          exception, arg_error);
  }
};

}  // namespace tarvex::com

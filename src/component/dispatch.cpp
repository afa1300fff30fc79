#include "dispatch.h"

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "module.h"

namespace tarvex::com {
namespace {

// Released when the scope ends; the type library keeps its descriptors.
class FuncDescRef {
 public:
  FuncDescRef(ITypeInfo* info, FUNCDESC* desc) : info_(info), desc_(desc) {}
  ~FuncDescRef() {
    if (desc_ != nullptr) info_->ReleaseFuncDesc(desc_);
  }
  FuncDescRef(const FuncDescRef&) = delete;
  FuncDescRef& operator=(const FuncDescRef&) = delete;
  FuncDescRef(FuncDescRef&& other) noexcept
      : info_(other.info_), desc_(std::exchange(other.desc_, nullptr)) {}
  const FUNCDESC* operator->() const { return desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* desc_;
};

// The vtable view of a dual interface: its FUNCDESCs carry the slot offsets
// and the full parameter lists, [out, retval] included.
ITypeInfo* VtableInfo(REFIID iid) {
  static std::mutex mutex;
  static std::vector<std::pair<IID, ITypeInfo*>> cache;
  std::lock_guard lock(mutex);
  for (const auto& [known, info] : cache) {
    if (IsEqualIID(known, iid)) return info;
  }
  ITypeInfo* info = TypeInfoOf(iid);
  if (info == nullptr) return nullptr;
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    HREFTYPE ref = 0;
    ITypeInfo* vtable = nullptr;
    if (dual && SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, &vtable))) {
      info->Release();
      info = vtable;
    }
  }
  cache.emplace_back(iid, info);
  return info;
}

// The automation type a parameter's declared type stands for: enumerations
// are 32-bit integers, interfaces object references.  A type library writes
// an object reference as a pointer to the interface, so `_Collection**` is a
// pointer to one VT_DISPATCH, not a pointer to a pointer.
VARTYPE Resolve(ITypeInfo* info, const TYPEDESC& type) {
  if (type.vt == VT_PTR && type.lptdesc->vt == VT_USERDEFINED) {
    const VARTYPE target = Resolve(info, *type.lptdesc);
    if (target == VT_DISPATCH || target == VT_UNKNOWN) return target;
  }
  if (type.vt != VT_USERDEFINED) return type.vt;
  ITypeInfo* target = nullptr;
  if (FAILED(info->GetRefTypeInfo(type.hreftype, &target))) return VT_EMPTY;
  VARTYPE result = VT_EMPTY;
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(target->GetTypeAttr(&attr))) {
    switch (attr->typekind) {
      case TKIND_ENUM:
        result = VT_I4;
        break;
      case TKIND_ALIAS:
        result = Resolve(target, attr->tdescAlias);
        break;
      case TKIND_DISPATCH:
        result = VT_DISPATCH;
        break;
      case TKIND_INTERFACE:
        result = (attr->wTypeFlags & TYPEFLAG_FDUAL) ? VT_DISPATCH : VT_UNKNOWN;
        break;
      default:
        break;
    }
    target->ReleaseTypeAttr(attr);
  }
  target->Release();
  return result;
}

// Where a VARIANT keeps its value: every member of the union starts there.
void* DataOf(VARIANT* v) { return &v->llVal; }

bool IsMissing(const VARIANT* v) {
  return v == nullptr || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
}

HRESULT Mismatch(HRESULT conversion) {
  return conversion == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

// A method that takes nothing and gives a value (the collection's Count)
// may also be read as a property: JScript reads `coll.Count` with
// DISPATCH_PROPERTYGET alone, as the platform's own collection allows.
bool ReadableAsProperty(const FUNCDESC& desc) {
  return desc.invkind == INVOKE_FUNC && desc.cParams == 1 &&
         (desc.lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
}

FuncDescRef FindFunction(ITypeInfo* info, DISPID member, WORD flags) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return {info, nullptr};
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  // Scanned rather than looked up: Wine's GetFuncIndexOfMemId has returned
  // the wrong index for members that share a DISPID (property get and put).
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(i, &desc))) continue;
    if (desc->memid == member && ((desc->invkind & flags) ||
                                  ((flags & DISPATCH_PROPERTYGET) && ReadableAsProperty(*desc)))) {
      return {info, desc};
    }
    info->ReleaseFuncDesc(desc);
  }
  return {info, nullptr};
}

// A careless host's DISPPARAMS must not crash it: counts that promise arrays
// that are not there, and by-reference arguments that point nowhere (also
// one level down, inside a script's VT_BYREF|VT_VARIANT), are refused before
// any member runs.  Checked once here, so no member has to.
HRESULT ValidateParams(const DISPPARAMS& params, UINT* arg_error) {
  if (params.cNamedArgs > params.cArgs) return E_INVALIDARG;
  if (params.cArgs > 0 && params.rgvarg == nullptr) return E_INVALIDARG;
  if (params.cNamedArgs > 0 && params.rgdispidNamedArgs == nullptr) return E_INVALIDARG;
  for (UINT i = 0; i < params.cArgs; ++i) {
    const VARIANT* arg = &params.rgvarg[i];
    for (int depth = 0; arg != nullptr && (V_VT(arg) & VT_BYREF) && depth < 2; ++depth) {
      if (V_BYREF(arg) == nullptr) {
        if (arg_error != nullptr) *arg_error = i;
        return E_POINTER;
      }
      arg = V_VT(arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(arg) : nullptr;
    }
  }
  return S_OK;
}

// The arguments of one call as DispCallFunc takes them.
class CallFrame {
 public:
  explicit CallFrame(size_t count) : locals_(count), args_(count), types_(count), ptrs_(count) {
    for (size_t i = 0; i < count; ++i) {
      std::memset(&locals_[i], 0, sizeof(VARIANT));
      VariantInit(&args_[i]);
      ptrs_[i] = &args_[i];
    }
  }
  ~CallFrame() {
    for (VARIANT& v : locals_) VariantClear(&v);
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  VARIANT& local(size_t i) { return locals_[i]; }
  void ByRef(size_t i, VARTYPE type, void* data) {
    types_[i] = VT_BYREF | type;
    V_VT(&args_[i]) = VT_BYREF | type;
    V_BYREF(&args_[i]) = data;
  }
  // The local itself goes by value.
  void ByValue(size_t i, VARTYPE type) {
    types_[i] = type;
    ptrs_[i] = &locals_[i];
  }
  VARTYPE* types() { return types_.data(); }
  VARIANTARG** ptrs() { return ptrs_.data(); }

 private:
  std::vector<VARIANT> locals_;
  std::vector<VARIANTARG> args_;
  std::vector<VARTYPE> types_;
  std::vector<VARIANTARG*> ptrs_;
};

// Prepares input parameter i from the host's argument (nullptr when omitted).
HRESULT BindArgument(ITypeInfo* info, const ELEMDESC& elem, VARIANT* given, size_t i,
                     CallFrame& frame) {
  const VARTYPE as_declared = Resolve(info, elem.tdesc);
  const bool by_ref =
      elem.tdesc.vt == VT_PTR && as_declared != VT_DISPATCH && as_declared != VT_UNKNOWN;
  const VARTYPE type = by_ref ? Resolve(info, *elem.tdesc.lptdesc) : as_declared;
  VARIANT& local = frame.local(i);
  const USHORT param_flags = elem.paramdesc.wParamFlags;

  if (IsMissing(given)) {
    if ((param_flags & PARAMFLAG_FHASDEFAULT) && elem.paramdesc.pparamdescex != nullptr) {
      const HRESULT hr =
          VariantChangeType(&local, &elem.paramdesc.pparamdescex->varDefaultValue, 0, type);
      if (FAILED(hr)) return hr;
    } else if (type == VT_VARIANT && (param_flags & PARAMFLAG_FOPT)) {
      V_VT(&local) = VT_ERROR;
      V_ERROR(&local) = DISP_E_PARAMNOTFOUND;
    } else {
      return DISP_E_PARAMNOTOPTIONAL;
    }
    if (!by_ref) {
      frame.ByValue(i, type);
    } else {
      frame.ByRef(i, type, type == VT_VARIANT ? static_cast<void*>(&local) : DataOf(&local));
    }
    return S_OK;
  }

  if (type == VT_VARIANT) {
    if (by_ref && V_VT(given) == (VT_BYREF | VT_VARIANT)) {
      frame.ByRef(i, VT_VARIANT, V_VARIANTREF(given));
      return S_OK;
    }
    const HRESULT hr = VariantCopyInd(&local, given);
    if (FAILED(hr)) return hr;
    if (by_ref) {
      frame.ByRef(i, VT_VARIANT, &local);
    } else {
      frame.ByValue(i, VT_VARIANT);
    }
    return S_OK;
  }

  if (by_ref) {
    if (V_VT(given) == (VT_BYREF | type)) {
      frame.ByRef(i, type, V_BYREF(given));
      return S_OK;
    }
    if (V_VT(given) == (VT_BYREF | VT_VARIANT)) {
      // A script's variable: converted where it lives, so what the member
      // writes back reaches the caller.
      VARIANT* target = V_VARIANTREF(given);
      if (V_VT(target) == (VT_BYREF | type)) {
        frame.ByRef(i, type, V_BYREF(target));
        return S_OK;
      }
      if (V_VT(target) != type) {
        const HRESULT hr = VariantChangeType(target, target, 0, type);
        if (FAILED(hr)) return Mismatch(hr);
      }
      frame.ByRef(i, type, DataOf(target));
      return S_OK;
    }
  }
  const HRESULT hr = VariantChangeType(&local, given, 0, type);
  if (FAILED(hr)) return Mismatch(hr);
  if (by_ref) {
    frame.ByRef(i, type, DataOf(&local));
  } else {
    frame.ByValue(i, type);
  }
  return S_OK;
}

void FillException(HRESULT failure, EXCEPINFO* exception) {
  if (exception == nullptr) return;
  std::memset(exception, 0, sizeof(*exception));
  exception->scode = failure;
  IErrorInfo* error = nullptr;
  if (GetErrorInfo(0, &error) == S_OK && error != nullptr) {
    error->GetSource(&exception->bstrSource);
    error->GetDescription(&exception->bstrDescription);
    error->GetHelpFile(&exception->bstrHelpFile);
    error->GetHelpContext(&exception->dwHelpContext);
    // Put back, so a caller of Invoke can still ask GetErrorInfo.
    SetErrorInfo(0, error);
    error->Release();
  }
}

}  // namespace

ITypeLib* TypeLibrary() {
  static ITypeLib* library = [] {
    ITypeLib* loaded = nullptr;
    if (FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &loaded))) loaded = nullptr;
    return loaded;
  }();
  return library;
}

ITypeInfo* TypeInfoOf(REFGUID guid) {
  ITypeLib* library = TypeLibrary();
  ITypeInfo* info = nullptr;
  if (library == nullptr || FAILED(library->GetTypeInfoOfGuid(guid, &info))) return nullptr;
  return info;
}

HRESULT DispatchGetTypeInfo(REFIID iid, UINT index, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = TypeInfoOf(iid);
  return *info != nullptr ? S_OK : TYPE_E_ELEMENTNOTFOUND;
}

HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  if (count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) {
    if (names[i] == nullptr) return E_POINTER;
  }
  ITypeInfo* info = TypeInfoOf(iid);
  if (info == nullptr) return E_UNEXPECTED;
  const HRESULT hr = info->GetIDsOfNames(names, count, ids);
  info->Release();
  return hr;
}

HRESULT DispatchInvoke(REFIID iid, IDispatch* instance, DISPID member, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
  ITypeInfo* info = VtableInfo(iid);
  if (info == nullptr) return E_UNEXPECTED;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  if (const HRESULT hr = ValidateParams(*params, arg_error); FAILED(hr)) return hr;

  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  FuncDescRef desc = FindFunction(info, member, flags);
  if (!desc) return DISP_E_MEMBERNOTFOUND;

  const size_t count = static_cast<size_t>(desc->cParams);
  const bool has_retval =
      count > 0 && (desc->lprgelemdescParam[count - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
  const size_t inputs = has_retval ? count - 1 : count;

  // given[i]: the host's argument for input parameter i; position[i]: its
  // index in rgvarg, for puArgErr.
  std::vector<VARIANT*> given(inputs, nullptr);
  std::vector<UINT> position(inputs, 0);
  const UINT named = params->cNamedArgs;
  const UINT total = params->cArgs;
  UINT positional = total - named;
  if (put) {
    // The value is the argument named DISPID_PROPERTYPUT (or, from a host
    // that names nothing, the last one); it fills the last parameter.
    UINT value = 0;
    for (UINT j = 0; j < named; ++j) {
      if (params->rgdispidNamedArgs[j] == DISPID_PROPERTYPUT) value = j;
    }
    if (total == 0 || inputs == 0) return DISP_E_BADPARAMCOUNT;
    if (total - 1 > inputs - 1) return DISP_E_BADPARAMCOUNT;
    given[inputs - 1] = &params->rgvarg[value];
    position[inputs - 1] = value;
    positional = total - 1;
    for (UINT k = 0; k < positional; ++k) {
      const UINT at = total - 1 - k;
      given[k] = &params->rgvarg[at];
      position[k] = at;
    }
  } else {
    if (positional > inputs) return DISP_E_BADPARAMCOUNT;
    for (UINT k = 0; k < positional; ++k) {
      const UINT at = total - 1 - k;
      given[k] = &params->rgvarg[at];
      position[k] = at;
    }
    for (UINT j = 0; j < named; ++j) {
      const DISPID id = params->rgdispidNamedArgs[j];
      if (id < 0 || static_cast<size_t>(id) >= inputs || given[static_cast<size_t>(id)]) {
        if (arg_error != nullptr) *arg_error = j;
        return DISP_E_PARAMNOTFOUND;
      }
      given[static_cast<size_t>(id)] = &params->rgvarg[j];
      position[static_cast<size_t>(id)] = j;
    }
  }

  CallFrame frame(count);
  for (size_t i = 0; i < inputs; ++i) {
    const HRESULT hr = BindArgument(info, desc->lprgelemdescParam[i], given[i], i, frame);
    if (FAILED(hr)) {
      if (arg_error != nullptr && given[i] != nullptr) *arg_error = position[i];
      return hr;
    }
  }
  VARTYPE retval_type = VT_EMPTY;
  if (has_retval) {
    const TYPEDESC& type = desc->lprgelemdescParam[count - 1].tdesc;
    retval_type = Resolve(info, type.vt == VT_PTR ? *type.lptdesc : type);
    VARIANT& local = frame.local(count - 1);
    frame.ByRef(count - 1, retval_type,
                retval_type == VT_VARIANT ? static_cast<void*>(&local) : DataOf(&local));
  }

  VARIANT returned;
  VariantInit(&returned);
  // VT_I4 rather than VT_HRESULT: every oleaut32 reads a 32-bit result back
  // for it, while VT_HRESULT is refused by some.
  HRESULT hr = DispCallFunc(instance, desc->oVft, desc->callconv, VT_I4, static_cast<UINT>(count),
                            frame.types(), frame.ptrs(), &returned);
  if (FAILED(hr)) return hr;
  hr = V_I4(&returned);
  if (FAILED(hr)) {
    FillException(hr, exception);
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr) {
    VariantInit(result);
    if (has_retval) {
      VARIANT& local = frame.local(count - 1);
      if (retval_type != VT_VARIANT) V_VT(&local) = retval_type;
      *result = local;
      V_VT(&local) = VT_EMPTY;
    }
  } else if (has_retval && retval_type != VT_VARIANT) {
    V_VT(&frame.local(count - 1)) = retval_type;
  }
  return S_OK;
}

}  // namespace tarvex::com

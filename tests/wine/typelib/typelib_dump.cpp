// Checks the type library that hosts compile against: which types it lists,
// in which order, with which kinds, flags, versions and GUIDs, and that every
// reference inside it still leads where it should (widl's output is
// rewritten after the fact, so a wrong offset would show up here first).
//
//   typelib_dump [library]
//
// The library is a .tlb or a module carrying one (default: Tarvex4.ocx, found
// the way LoadTypeLibEx finds it).  Prints each mismatch; exits 0 only when
// every check passes.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

struct ImplRef {
  std::wstring name;
  int flags;
};

struct ExpectedType {
  std::wstring name;
  TYPEKIND kind;
  WORD flags;
  std::wstring guid;
  std::vector<ImplRef> impls;  // coclasses only
};

// Hidden, dual, nonextensible, oleautomation, dispatchable: the flags the
// library stores for each dual interface.  Wine's oleaut32 leaves
// FOLEAUTOMATION out of whatever GetTypeAttr reports for a TKIND_DISPATCH, so
// the dispatch half of a dual shows 0x10D0 whatever the file says; its
// interface half shows the stored flags.
constexpr WORD kDual = 0x11D0;
constexpr WORD kNotOnDispatch = TYPEFLAG_FOLEAUTOMATION;

// The order belongs to the contract: hosts that bind by index see it.
const std::vector<ExpectedType> kTypes = {
    {L"_Tarvex", TKIND_DISPATCH, kDual, L"{29A99EB3-F92D-41C5-853B-78C052D8F57C}", {}},
    {L"Tarvex",
     TKIND_COCLASS,
     0x20,
     L"{39E7394A-CFA3-412B-9958-E0ECD090AD11}",
     {{L"_Tarvex", IMPLTYPEFLAG_FDEFAULT},
      {L"__Tarvex", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}},
    {L"_SMSDeliver", TKIND_DISPATCH, kDual, L"{711B35FD-0630-4ED8-A384-06BCBF02AAF2}", {}},
    {L"SMSDeliver",
     TKIND_COCLASS,
     0x2,
     L"{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}",
     {{L"_SMSDeliver", IMPLTYPEFLAG_FDEFAULT}}},
    {L"_TRegistry", TKIND_DISPATCH, kDual, L"{B2581E0C-7D40-4BDF-BCE4-D1FABC310BC8}", {}},
    {L"TRegistry",
     TKIND_COCLASS,
     0x0,
     L"{29EEABE9-D9B7-4FB1-ADA9-5659F53897E4}",
     {{L"_TRegistry", IMPLTYPEFLAG_FDEFAULT}}},
    {L"__Tarvex", TKIND_DISPATCH, 0x1090, L"{BD6C2FCC-A3CF-4416-8C34-AAA14B0E4456}", {}},
    {L"enumInbox", TKIND_ENUM, 0x0, L"{596C396E-71EF-49E2-9796-4652F32FAB05}", {}},
    {L"THKey", TKIND_ENUM, 0x0, L"{1F2CA705-39D2-4343-98B2-50E72BD5AFAB}", {}},
    {L"_Collection", TKIND_DISPATCH, kDual, L"{62C2173B-F8AC-4732-9C35-49128CDB8F06}", {}},
    {L"Collection",
     TKIND_COCLASS,
     0x10,
     L"{3FEEE167-A2DF-4B79-BD29-1D1A771971A9}",
     {{L"_Collection", IMPLTYPEFLAG_FDEFAULT}}},
};

// Parameters whose type is one of the library's own: each must still name
// the right type after the library's entries have moved.
struct ExpectedParamType {
  const wchar_t* type;
  const wchar_t* func;
  int param;  // -1: the function's own type ([retval], as the dispatch half shows it)
  const wchar_t* target;
};
const ExpectedParamType kParamTypes[] = {
    {L"_Tarvex", L"ReadMessage", 1, L"enumInbox"},
    {L"_Tarvex", L"ReadMessage", -1, L"_Collection"},
    {L"_TRegistry", L"GetString", 0, L"THKey"},
    {L"_TRegistry", L"DelSetting", 0, L"THKey"},
};

int g_failures = 0;

void Fail(const wchar_t* format, ...) {
  ++g_failures;
  va_list args;
  va_start(args, format);
  std::fputws(L"MISMATCH: ", stdout);
  std::vfwprintf(stdout, format, args);
  std::fputws(L"\n", stdout);
  va_end(args);
}

struct Bstr {
  BSTR b = nullptr;
  ~Bstr() { SysFreeString(b); }
  std::wstring str() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring TypeName(ITypeInfo* info) {
  Bstr name;
  if (FAILED(info->GetDocumentation(MEMBERID_NIL, &name.b, nullptr, nullptr, nullptr))) return L"?";
  return name.str();
}

std::wstring RefName(ITypeInfo* from, HREFTYPE ref) {
  ComPtr<ITypeInfo> target;
  if (FAILED(from->GetRefTypeInfo(ref, &target))) return L"";
  return TypeName(target.Get());
}

const wchar_t* KindName(TYPEKIND kind) {
  static const wchar_t* const kNames[] = {L"enum",     L"record",  L"module", L"interface",
                                          L"dispatch", L"coclass", L"alias",  L"union"};
  return kind >= 0 && kind < TKIND_MAX ? kNames[kind] : L"?";
}

// A reference to another type that leads nowhere is a fault of the library.
void CheckTypeRefs(ITypeInfo* owner, const TYPEDESC& desc, const std::wstring& where) {
  if (desc.vt == VT_PTR || desc.vt == VT_SAFEARRAY) {
    CheckTypeRefs(owner, *desc.lptdesc, where);
  } else if (desc.vt == VT_CARRAY) {
    CheckTypeRefs(owner, desc.lpadesc->tdescElem, where);
  } else if (desc.vt == VT_USERDEFINED && RefName(owner, desc.hreftype).empty()) {
    Fail(L"%ls: a reference to another type leads nowhere", where.c_str());
  }
}

struct AttrGuard {
  ITypeInfo* info;
  TYPEATTR* attr = nullptr;
  explicit AttrGuard(ITypeInfo* i) : info(i) {
    if (FAILED(info->GetTypeAttr(&attr))) attr = nullptr;
  }
  ~AttrGuard() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
};

std::vector<ImplRef> ImplTypes(ITypeInfo* info, const TYPEATTR& attr, const std::wstring& owner) {
  std::vector<ImplRef> out;
  for (UINT i = 0; i < attr.cImplTypes; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    std::wstring name;
    if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || (name = RefName(info, ref)).empty())
      Fail(L"%ls: implemented type %u leads nowhere", owner.c_str(), i);
    info->GetImplTypeFlags(i, &flags);
    out.push_back({name, flags});
  }
  return out;
}

// FindName must lead back to the type itself and to the owner of a member.
void CheckFindName(ITypeLib* lib, const std::wstring& name, ITypeInfo* owner, MEMBERID memid) {
  std::vector<wchar_t> buffer(name.begin(), name.end());
  buffer.push_back(0);
  BOOL found = FALSE;
  if (FAILED(lib->IsName(buffer.data(), 0, &found)) || !found)
    Fail(L"IsName(%ls) finds nothing", name.c_str());
  ITypeInfo* infos[16] = {};
  MEMBERID ids[16] = {};
  USHORT count = 16;
  bool matched = false;
  if (SUCCEEDED(lib->FindName(buffer.data(), 0, infos, ids, &count))) {
    for (USHORT i = 0; i < count; ++i) {
      if (ids[i] == memid && TypeName(infos[i]) == TypeName(owner)) matched = true;
      infos[i]->Release();
    }
  }
  if (!matched) Fail(L"FindName(%ls) does not lead to %ls", name.c_str(), TypeName(owner).c_str());
}

// Every member is readable, every type it names is there, every function's
// name (and its parameters' names) maps back to its DISPID, and, with
// `find_names`, the library's name lookups lead to each member.
void CheckMembers(ITypeLib* lib, ITypeInfo* info, const TYPEATTR& attr, const std::wstring& owner,
                  bool find_names) {
  for (UINT f = 0; f < attr.cFuncs; ++f) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(f, &func))) {
      Fail(L"%ls: function %u unreadable", owner.c_str(), f);
      continue;
    }
    const std::wstring where = owner + L" function " + std::to_wstring(f);
    CheckTypeRefs(info, func->elemdescFunc.tdesc, where);
    for (SHORT p = 0; p < func->cParams; ++p) {
      CheckTypeRefs(info, func->lprgelemdescParam[p].tdesc, where);
    }
    BSTR names[64] = {};
    UINT count = 0;
    info->GetNames(func->memid, names, 64, &count);
    if (count) {
      std::vector<MEMBERID> ids(count, 0);
      HRESULT hr = info->GetIDsOfNames(names, count, ids.data());
      if (FAILED(hr) || ids[0] != func->memid)
        Fail(L"%ls: GetIDsOfNames(%ls) gives 0x%lx (hr 0x%lx)", owner.c_str(), names[0],
             static_cast<unsigned long>(ids[0]), static_cast<unsigned long>(hr));
      for (UINT n = 1; n < count; ++n)
        if (ids[n] != static_cast<MEMBERID>(n - 1))
          Fail(L"%ls.%ls: parameter %ls at %ld", owner.c_str(), names[0], names[n],
               static_cast<long>(ids[n]));
      if (find_names) CheckFindName(lib, names[0], info, func->memid);
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(func);
  }
  for (UINT v = 0; v < attr.cVars; ++v) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(v, &var))) {
      Fail(L"%ls: variable %u unreadable", owner.c_str(), v);
      continue;
    }
    CheckTypeRefs(info, var->elemdescVar.tdesc, owner + L" variable " + std::to_wstring(v));
    Bstr name;
    info->GetDocumentation(var->memid, &name.b, nullptr, nullptr, nullptr);
    if (find_names) CheckFindName(lib, name.str(), info, var->memid);
    info->ReleaseVarDesc(var);
  }
}

// The vtable half of a dual interface must agree with its dispatch half and
// carry the stored flags in full.
void CheckDualHalf(ITypeLib* lib, ITypeInfo* info, const TYPEATTR& attr, const std::wstring& name,
                   WORD stored) {
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> half;
  if (FAILED(info->GetRefTypeOfImplType(-1, &ref)) || FAILED(info->GetRefTypeInfo(ref, &half))) {
    Fail(L"%ls: no interface half", name.c_str());
    return;
  }
  AttrGuard ha(half.Get());
  if (!ha.attr) {
    Fail(L"%ls: interface half unreadable", name.c_str());
    return;
  }
  ImplTypes(half.Get(), *ha.attr, name + L" (interface)");
  if (ha.attr->typekind != TKIND_INTERFACE)
    Fail(L"%ls: interface half is a %ls", name.c_str(), KindName(ha.attr->typekind));
  if (ha.attr->wTypeFlags != stored)
    Fail(L"%ls: interface half flags 0x%x, not 0x%x", name.c_str(), ha.attr->wTypeFlags, stored);
  if (ha.attr->guid != attr.guid || ha.attr->wMajorVerNum != attr.wMajorVerNum ||
      ha.attr->wMinorVerNum != attr.wMinorVerNum)
    Fail(L"%ls: interface half has another GUID or version", name.c_str());
  // The interface half lists only the dual's own members, which are what
  // the library's name lookups know.
  CheckMembers(lib, half.Get(), *ha.attr, name + L" (interface)", true);
}

void CheckParamTypes(ITypeLib* lib) {
  for (const auto& want : kParamTypes) {
    std::wstring found;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
      ComPtr<ITypeInfo> info;
      if (FAILED(lib->GetTypeInfo(i, &info)) || TypeName(info.Get()) != want.type) continue;
      AttrGuard a(info.Get());
      for (UINT f = 0; a.attr && f < a.attr->cFuncs; ++f) {
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(f, &func))) continue;
        Bstr name;
        info->GetDocumentation(func->memid, &name.b, nullptr, nullptr, nullptr);
        if (name.str() == want.func && want.param < func->cParams) {
          const TYPEDESC* desc = want.param < 0 ? &func->elemdescFunc.tdesc
                                                : &func->lprgelemdescParam[want.param].tdesc;
          while (desc->vt == VT_PTR) desc = desc->lptdesc;
          if (desc->vt == VT_USERDEFINED) found = RefName(info.Get(), desc->hreftype);
        }
        info->ReleaseFuncDesc(func);
      }
    }
    if (found != want.target)
      Fail(L"%ls.%ls parameter %d is of type '%ls', not %ls", want.type, want.func, want.param,
           found.c_str(), want.target);
  }
}

void CheckLibrary(ITypeLib* lib) {
  TLIBATTR* la = nullptr;
  if (FAILED(lib->GetLibAttr(&la))) {
    Fail(L"library attributes unreadable");
    return;
  }
  if (GuidText(la->guid) != L"{DDAD54A4-C1D4-497D-B14F-98E7FEB8BDE2}" || la->wMajorVerNum != 77 ||
      la->wMinorVerNum != 0 || la->lcid != 1033 ||
      la->wLibFlags != (LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE))
    Fail(L"library: %ls %u.%u lcid %lu flags 0x%x", GuidText(la->guid).c_str(), la->wMajorVerNum,
         la->wMinorVerNum, la->lcid, la->wLibFlags);
  lib->ReleaseTLibAttr(la);

  UINT count = lib->GetTypeInfoCount();
  if (count != kTypes.size()) Fail(L"%u types, not %zu", count, kTypes.size());
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(lib->GetTypeInfo(i, &info))) {
      Fail(L"[%u] unreadable", i);
      continue;
    }
    AttrGuard a(info.Get());
    if (!a.attr) {
      Fail(L"[%u] attributes unreadable", i);
      continue;
    }
    const TYPEATTR& attr = *a.attr;
    std::wstring name = TypeName(info.Get());
    std::vector<ImplRef> impls = ImplTypes(info.Get(), attr, name);
    const ExpectedType* want = i < kTypes.size() ? &kTypes[i] : nullptr;
    bool dual = attr.typekind == TKIND_DISPATCH && (attr.wTypeFlags & TYPEFLAG_FDUAL);
    if (dual) CheckDualHalf(lib, info.Get(), attr, name, want ? want->flags : 0);
    CheckMembers(lib, info.Get(), attr, name, !dual);
    CheckFindName(lib, name, info.Get(), MEMBERID_NIL);

    // GetTypeInfoOfGuid must find this very entry.
    ComPtr<ITypeInfo> byGuid;
    if (FAILED(lib->GetTypeInfoOfGuid(attr.guid, &byGuid)) || TypeName(byGuid.Get()) != name)
      Fail(L"[%u] %ls: GetTypeInfoOfGuid(%ls) does not find it", i, name.c_str(),
           GuidText(attr.guid).c_str());
    ComPtr<ITypeLib> container;
    UINT index = ~0u;
    if (FAILED(info->GetContainingTypeLib(&container, &index)) || index != i)
      Fail(L"[%u] %ls: says it is at index %u", i, name.c_str(), index);

    if (!want) continue;
    if (name != want->name) Fail(L"[%u] is %ls, not %ls", i, name.c_str(), want->name.c_str());
    if (attr.typekind != want->kind)
      Fail(L"[%u] %ls: a %ls, not a %ls", i, name.c_str(), KindName(attr.typekind),
           KindName(want->kind));
    WORD shown = attr.typekind == TKIND_DISPATCH ? want->flags & ~kNotOnDispatch : want->flags;
    if (attr.wTypeFlags != shown)
      Fail(L"[%u] %ls: flags 0x%x, not 0x%x", i, name.c_str(), attr.wTypeFlags, shown);
    if (attr.wMajorVerNum != 1 || attr.wMinorVerNum != 0)
      Fail(L"[%u] %ls: version %u.%u, not 1.0", i, name.c_str(), attr.wMajorVerNum,
           attr.wMinorVerNum);
    if (GuidText(attr.guid) != want->guid)
      Fail(L"[%u] %ls: GUID %ls, not %ls", i, name.c_str(), GuidText(attr.guid).c_str(),
           want->guid.c_str());
    if (attr.typekind == TKIND_COCLASS) {
      bool same = impls.size() == want->impls.size();
      for (size_t n = 0; same && n < impls.size(); ++n)
        same = impls[n].name == want->impls[n].name && impls[n].flags == want->impls[n].flags;
      if (!same) Fail(L"[%u] %ls: implemented interfaces differ", i, name.c_str());
    }
  }
  CheckParamTypes(lib);
}

// A library bad enough to crash oleaut32 must fail the test at once, not
// wait for a debugger.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
  std::wprintf(L"MISMATCH: crashed (exception 0x%lx) reading the library\n",
               static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
  std::fflush(stdout);
  ExitProcess(3);
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring path = L"Tarvex4.ocx";
  if (argc > 1) {
    std::vector<wchar_t> wide(std::strlen(argv[1]) + 1);
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, wide.data(), static_cast<int>(wide.size()));
    path = wide.data();
  }
  SetUnhandledExceptionFilter(OnCrash);
  CoInitialize(nullptr);
  int result;
  {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) {
      std::wprintf(L"MISMATCH: cannot load %ls (hr 0x%lx)\n", path.c_str(),
                   static_cast<unsigned long>(hr));
      result = 2;
    } else {
      CheckLibrary(lib.Get());
      std::wprintf(L"%ls: %d mismatches\n", path.c_str(), g_failures);
      result = g_failures ? 1 : 0;
    }
  }
  CoUninitialize();
  return result;
}

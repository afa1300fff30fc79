// Checks the type library that hosts compile against: which types it lists,
// in which order, with which kinds, flags, versions and GUIDs, and that every
// reference inside it still leads where it should (widl's output is
// rewritten after the fact, so a wrong offset would show up here first).
//
//   typelib_dump LIBRARY
//
// The library is a .tlb or a module carrying one.  Prints each mismatch;
// exits 0 only when every check passes.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

// Each type as Describe() writes it: name, kind, flags, version, GUID, and
// what it implements (name/IMPLTYPEFLAGs).  The order belongs to the contract:
// hosts that bind by index see it.  Wine's oleaut32 leaves FOLEAUTOMATION out
// of what GetTypeAttr reports for a TKIND_DISPATCH, so the dispatch half of a
// dual shows 10d0; its vtable half (kDualHalves) shows the stored 11d0.
const wchar_t* const kTypes[] = {
    L"_Tarvex dispatch 10d0 1.0 {29A99EB3-F92D-41C5-853B-78C052D8F57C} IDispatch/0",
    L"Tarvex coclass 20 1.0 {39E7394A-CFA3-412B-9958-E0ECD090AD11} _Tarvex/1 __Tarvex/3",
    L"_SMSDeliver dispatch 10d0 1.0 {711B35FD-0630-4ED8-A384-06BCBF02AAF2} IDispatch/0",
    L"SMSDeliver coclass 2 1.0 {23D972A8-7EDA-4077-9F64-3931F8B2ABFF} _SMSDeliver/1",
    L"_TRegistry dispatch 10d0 1.0 {B2581E0C-7D40-4BDF-BCE4-D1FABC310BC8} IDispatch/0",
    L"TRegistry coclass 0 1.0 {29EEABE9-D9B7-4FB1-ADA9-5659F53897E4} _TRegistry/1",
    L"__Tarvex dispatch 1090 1.0 {BD6C2FCC-A3CF-4416-8C34-AAA14B0E4456} IDispatch/0",
    L"enumInbox enum 0 1.0 {596C396E-71EF-49E2-9796-4652F32FAB05}",
    L"THKey enum 0 1.0 {1F2CA705-39D2-4343-98B2-50E72BD5AFAB}",
    L"_Collection dispatch 10d0 1.0 {62C2173B-F8AC-4732-9C35-49128CDB8F06} IDispatch/0",
    L"Collection coclass 10 1.0 {3FEEE167-A2DF-4B79-BD29-1D1A771971A9} _Collection/1",
};
const wchar_t* const kDualHalves[] = {
    L"_Tarvex interface 11d0 1.0 {29A99EB3-F92D-41C5-853B-78C052D8F57C} IDispatch/0",
    L"_SMSDeliver interface 11d0 1.0 {711B35FD-0630-4ED8-A384-06BCBF02AAF2} IDispatch/0",
    L"_TRegistry interface 11d0 1.0 {B2581E0C-7D40-4BDF-BCE4-D1FABC310BC8} IDispatch/0",
    L"_Collection interface 11d0 1.0 {62C2173B-F8AC-4732-9C35-49128CDB8F06} IDispatch/0",
};
// Every parameter whose type is one of the library's own (-1: the
// function's [retval], as the dispatch half shows it): each must still name
// the right type after the library's entries have moved.
const wchar_t* const kParamTypes[] = {
    L"_Tarvex.ReadMessage(-1) _Collection", L"_Tarvex.ReadMessage(1) enumInbox",
    L"_TRegistry.GetString(0) THKey",       L"_TRegistry.SaveString(0) THKey",
    L"_TRegistry.SaveStringLong(0) THKey",  L"_TRegistry.DelSetting(0) THKey",
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

void Expect(const std::wstring& got, const std::wstring& want, const wchar_t* what) {
  if (got != want) Fail(L"%ls is\n  %ls\nnot\n  %ls", what, got.c_str(), want.c_str());
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

std::wstring MemberName(ITypeInfo* info, MEMBERID id) {
  Bstr name;
  if (FAILED(info->GetDocumentation(id, &name.b, nullptr, nullptr, nullptr))) return L"?";
  return name.str();
}

// The name of the type a reference leads to, "" when it leads nowhere (a
// fault of the library).
std::wstring RefName(ITypeInfo* from, HREFTYPE ref) {
  ComPtr<ITypeInfo> target;
  if (FAILED(from->GetRefTypeInfo(ref, &target))) return L"";
  return MemberName(target.Get(), MEMBERID_NIL);
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

std::wstring Describe(ITypeInfo* info, const TYPEATTR& attr) {
  static const wchar_t* const kKinds[] = {L"enum",     L"record",  L"module", L"interface",
                                          L"dispatch", L"coclass", L"alias",  L"union"};
  wchar_t text[128];
  std::swprintf(text, 128, L"%ls %ls %x %u.%u %ls", MemberName(info, MEMBERID_NIL).c_str(),
                attr.typekind < TKIND_MAX ? kKinds[attr.typekind] : L"?", attr.wTypeFlags,
                attr.wMajorVerNum, attr.wMinorVerNum, GuidText(attr.guid).c_str());
  std::wstring out = text;
  for (UINT i = 0; i < attr.cImplTypes; ++i) {
    HREFTYPE ref = 0;
    INT flags = 0;
    info->GetImplTypeFlags(i, &flags);
    out += L" " + (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) ? RefName(info, ref) : L"") +
           L"/" + std::to_wstring(flags);
  }
  return out;
}

// A reference to another type that leads nowhere is a fault of the library;
// one to the library's own types is recorded in `named` as "where target".
void CheckTypeRefs(ITypeInfo* owner, const TYPEDESC& desc, const std::wstring& where,
                   std::vector<std::wstring>* named) {
  if (desc.vt == VT_PTR || desc.vt == VT_SAFEARRAY) {
    CheckTypeRefs(owner, *desc.lptdesc, where, named);
  } else if (desc.vt == VT_CARRAY) {
    CheckTypeRefs(owner, desc.lpadesc->tdescElem, where, named);
  } else if (desc.vt == VT_USERDEFINED) {
    const std::wstring target = RefName(owner, desc.hreftype);
    if (target.empty()) Fail(L"%ls: a reference to another type leads nowhere", where.c_str());
    if (named) named->push_back(where + L" " + target);
  }
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
  const std::wstring owner_name = MemberName(owner, MEMBERID_NIL);
  if (SUCCEEDED(lib->FindName(buffer.data(), 0, infos, ids, &count))) {
    for (USHORT i = 0; i < count; ++i) {
      matched |= ids[i] == memid && MemberName(infos[i], MEMBERID_NIL) == owner_name;
      infos[i]->Release();
    }
  }
  if (!matched) Fail(L"FindName(%ls) does not lead to %ls", name.c_str(), owner_name.c_str());
}

// Every member is readable, every type it names is there, every function's
// name (and its parameters' names) maps back to its DISPID, and, with
// `find_names`, the library's name lookups lead to each member.
void CheckMembers(ITypeLib* lib, ITypeInfo* info, const TYPEATTR& attr, bool find_names,
                  std::vector<std::wstring>* named) {
  const std::wstring owner = MemberName(info, MEMBERID_NIL);
  for (UINT f = 0; f < attr.cFuncs; ++f) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(f, &func))) {
      Fail(L"%ls: function %u unreadable", owner.c_str(), f);
      continue;
    }
    const std::wstring where = owner + L"." + MemberName(info, func->memid);
    CheckTypeRefs(info, func->elemdescFunc.tdesc, where + L"(-1)", named);
    for (SHORT p = 0; p < func->cParams; ++p) {
      CheckTypeRefs(info, func->lprgelemdescParam[p].tdesc,
                    where + L"(" + std::to_wstring(p) + L")", named);
    }
    BSTR names[64] = {};
    UINT count = 0;
    info->GetNames(func->memid, names, 64, &count);
    if (count) {
      std::vector<MEMBERID> ids(count, 0);
      HRESULT hr = info->GetIDsOfNames(names, count, ids.data());
      if (FAILED(hr) || ids[0] != func->memid)
        Fail(L"%ls: GetIDsOfNames gives 0x%lx (hr 0x%lx)", where.c_str(),
             static_cast<unsigned long>(ids[0]), static_cast<unsigned long>(hr));
      for (UINT n = 1; n < count; ++n)
        if (ids[n] != static_cast<MEMBERID>(n - 1))
          Fail(L"%ls: parameter %ls at %ld", where.c_str(), names[n], static_cast<long>(ids[n]));
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
    const std::wstring name = MemberName(info, var->memid);
    CheckTypeRefs(info, var->elemdescVar.tdesc, owner + L"." + name, named);
    if (find_names) CheckFindName(lib, name, info, var->memid);
    info->ReleaseVarDesc(var);
  }
}

void CheckLibrary(ITypeLib* lib) {
  TLIBATTR* la = nullptr;
  if (FAILED(lib->GetLibAttr(&la))) return Fail(L"library attributes unreadable");
  wchar_t text[128];
  std::swprintf(text, 128, L"%ls %u.%u lcid %lu flags %x", GuidText(la->guid).c_str(),
                la->wMajorVerNum, la->wMinorVerNum, la->lcid, la->wLibFlags);
  Expect(text, L"{DDAD54A4-C1D4-497D-B14F-98E7FEB8BDE2} 77.0 lcid 1033 flags a", L"the library");
  lib->ReleaseTLibAttr(la);

  std::vector<std::wstring> own, types, halves, named;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
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
    const std::wstring name = MemberName(info.Get(), MEMBERID_NIL);
    own.push_back(name);
    types.push_back(Describe(info.Get(), attr));
    // The interface half of a dual lists only the dual's own members, which
    // are what the library's name lookups know.
    const bool dual = attr.typekind == TKIND_DISPATCH && (attr.wTypeFlags & TYPEFLAG_FDUAL);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> half;
    if (dual && (FAILED(info->GetRefTypeOfImplType(-1, &ref)) ||
                 FAILED(info->GetRefTypeInfo(ref, &half)))) {
      Fail(L"%ls: no interface half", name.c_str());
    } else if (dual) {
      AttrGuard ha(half.Get());
      halves.push_back(ha.attr ? Describe(half.Get(), *ha.attr) : name + L" unreadable");
      if (ha.attr) CheckMembers(lib, half.Get(), *ha.attr, true, nullptr);
    }
    CheckMembers(lib, info.Get(), attr, !dual, &named);
    CheckFindName(lib, name, info.Get(), MEMBERID_NIL);

    ComPtr<ITypeInfo> by_guid;
    if (FAILED(lib->GetTypeInfoOfGuid(attr.guid, &by_guid)) ||
        MemberName(by_guid.Get(), MEMBERID_NIL) != name)
      Fail(L"[%u] %ls: GetTypeInfoOfGuid does not find it", i, name.c_str());
    ComPtr<ITypeLib> container;
    UINT index = ~0u;
    if (FAILED(info->GetContainingTypeLib(&container, &index)) || index != i)
      Fail(L"[%u] %ls: says it is at index %u", i, name.c_str(), index);
  }
  const auto lines = [](const auto& list) {
    std::wstring text;
    for (const auto& line : list) text += std::wstring(line) + L"\n  ";
    return text;
  };
  Expect(lines(types), lines(kTypes), L"the list of types");
  Expect(lines(halves), lines(kDualHalves), L"the duals' interface halves");
  std::erase_if(named, [&](const std::wstring& param) {
    const std::wstring target = param.substr(param.rfind(L' ') + 1);
    return std::find(own.begin(), own.end(), target) == own.end();
  });
  Expect(lines(named), lines(kParamTypes), L"the parameters of the library's own types");
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
  if (argc != 2) {
    std::fputs("usage: typelib_dump LIBRARY\n", stderr);
    return 2;
  }
  std::vector<wchar_t> path(std::strlen(argv[1]) + 1);
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path.data(), static_cast<int>(path.size()));
  SetUnhandledExceptionFilter(OnCrash);
  CoInitialize(nullptr);
  int result;
  {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.data(), REGKIND_NONE, &lib);
    if (FAILED(hr)) {
      std::wprintf(L"MISMATCH: cannot load %ls (hr 0x%lx)\n", path.data(),
                   static_cast<unsigned long>(hr));
      result = 2;
    } else {
      CheckLibrary(lib.Get());
      std::wprintf(L"%ls: %d mismatches\n", path.data(), g_failures);
      result = g_failures ? 1 : 0;
    }
  }
  CoUninitialize();
  return result;
}

// The type library that hosts compile against, as the registration offers
// it: which types it lists, in which order, with which kinds, flags,
// versions and GUIDs, and that every reference inside it still leads where it
// should (widl's output is rewritten after the fact, so a wrong offset would
// show up here first).
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "test_container.h"
#include "wine_test.h"

namespace tarvex::com::testing {
namespace {

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

// The DISPIDs of the dispatch interfaces, in the library's order: hosts
// compiled against an earlier build call by these numbers, so none may move.
const wchar_t* const kDispids[] = {
    L"_Tarvex Setting=60030000 DeviceOpen=60030001 DeviceClose=60030002 SendCommand=60030004 "
    L"GetMessageStorageID=60030005 SetMessageStorageID=60030006 DeviceManufacture=60030007 "
    L"DeviceModel=60030008 DeviceIMEI=60030009 ReadMessage=6003000a SendMessage=6003000b "
    L"SendLongMessage=6003000c RemoveMessage=6003000f DeviceName=60030015",
    L"_SMSDeliver MessageID=40030000 PhoneNumber=40030001 MessageTime=40030002 "
    L"MessageText=40030003 MultiPartSMS=40030004 MultiPartSMSRef=40030005 "
    L"MultiPartSMSCount=40030006 MultiPartSMSNumber=40030007 Decode=60030000",
    L"_TRegistry GetString=60030001 SaveString=60030002 SaveStringLong=60030003 "
    L"DelSetting=60030004",
    L"__Tarvex SendProgress=1",
    L"_Collection Item=0 Add=1 Count=2 Remove=3 _NewEnum=fffffffc",
};

std::wstring MemberName(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr;
  if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return L"?";
  const std::wstring text(name, SysStringLen(name));
  SysFreeString(name);
  return text;
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
  wchar_t guid[40] = {}, text[128];
  StringFromGUID2(attr.guid, guid, 40);
  std::swprintf(text, 128, L"%ls %ls %x %u.%u %ls", MemberName(info, MEMBERID_NIL).c_str(),
                attr.typekind < TKIND_MAX ? kKinds[attr.typekind] : L"?", attr.wTypeFlags,
                attr.wMajorVerNum, attr.wMinorVerNum, guid);
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
    EXPECT_FALSE(target.empty()) << where << ": a reference leads nowhere";
    if (named) named->push_back(where + L" " + target);
  }
}

// The library's name lookup (its name table, rewritten with the types'
// offsets, member names and type names in one pass) must lead back to the type.
void CheckFindName(ITypeLib* lib, std::wstring name) {
  ITypeInfo* infos[16] = {};
  MEMBERID ids[16] = {};
  USHORT count = 16;
  bool matched = false;
  if (SUCCEEDED(lib->FindName(name.data(), 0, infos, ids, &count))) {
    for (USHORT i = 0; i < count; ++i) {
      matched |= ids[i] == MEMBERID_NIL && MemberName(infos[i], MEMBERID_NIL) == name;
      infos[i]->Release();
    }
  }
  EXPECT_TRUE(matched) << "FindName(" << name << ") does not lead to the type";
}

// Every member is readable, every type it names is there, every function's
// name (and its parameters' names) maps back to its DISPID; `dispids` gets
// the members' "name=DISPID" once each.
void CheckMembers(ITypeInfo* info, const TYPEATTR& attr, std::vector<std::wstring>* named,
                  std::wstring* dispids = nullptr) {
  const std::wstring owner = MemberName(info, MEMBERID_NIL);
  std::vector<MEMBERID> seen;
  for (UINT f = 0; f < attr.cFuncs; ++f) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(f, &func))) {
      ADD_FAILURE() << owner << ": function " << f << " unreadable";
      continue;
    }
    const std::wstring where = owner + L"." + MemberName(info, func->memid);
    const bool inherited = (func->memid & 0xFFFE0000) == 0x60000000;  // IUnknown, IDispatch
    if (dispids && !inherited && std::find(seen.begin(), seen.end(), func->memid) == seen.end()) {
      wchar_t id[16];
      std::swprintf(id, 16, L"=%lx", static_cast<unsigned long>(func->memid));
      *dispids += L" " + MemberName(info, func->memid) + id;
      seen.push_back(func->memid);
    }
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
      EXPECT_TRUE(SUCCEEDED(hr) && ids[0] == func->memid) << where << ": GetIDsOfNames";
      for (UINT n = 1; n < count; ++n) {
        EXPECT_EQ(ids[n], static_cast<MEMBERID>(n - 1)) << where << " parameter " << n;
      }
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(func);
  }
  for (UINT v = 0; v < attr.cVars; ++v) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(v, &var))) {
      ADD_FAILURE() << owner << ": variable " << v << " unreadable";
      continue;
    }
    const std::wstring name = MemberName(info, var->memid);
    CheckTypeRefs(info, var->elemdescVar.tdesc, owner + L"." + name, named);
    info->ReleaseVarDesc(var);
  }
}

TEST(TypeLibrary, ListsItsTypesInOrderAndEveryReferenceLeadsWhereItShould) {
  ComPtr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(
      LoadRegTypeLib({0xDDAD54A4, 0xC1D4, 0x497D, {0xB1, 0x4F, 0x98, 0xE7, 0xFE, 0xB8, 0xBD, 0xE2}},
                     77, 0, 0, &lib));
  TLIBATTR* la = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&la));
  EXPECT_EQ(la->wMajorVerNum * 1000 + la->wMinorVerNum, 77000);
  EXPECT_EQ(la->lcid, 1033u);
  EXPECT_EQ(la->wLibFlags, 0xa);
  lib->ReleaseTLibAttr(la);

  std::vector<std::wstring> own, types, halves, named, dispids;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfo(i, &info)) << i;
    AttrGuard a(info.Get());
    ASSERT_NE(a.attr, nullptr) << i;
    const TYPEATTR& attr = *a.attr;
    const std::wstring name = MemberName(info.Get(), MEMBERID_NIL);
    own.push_back(name);
    types.push_back(Describe(info.Get(), attr));
    const bool dual = attr.typekind == TKIND_DISPATCH && (attr.wTypeFlags & TYPEFLAG_FDUAL);
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> half;
    if (dual && (FAILED(info->GetRefTypeOfImplType(-1, &ref)) ||
                 FAILED(info->GetRefTypeInfo(ref, &half)))) {
      ADD_FAILURE() << name << ": no interface half";
    } else if (dual) {
      AttrGuard ha(half.Get());
      halves.push_back(ha.attr ? Describe(half.Get(), *ha.attr) : name + L" unreadable");
      if (ha.attr) CheckMembers(half.Get(), *ha.attr, nullptr);
    }
    std::wstring ids = name;
    CheckMembers(info.Get(), attr, &named, &ids);
    if (attr.typekind == TKIND_DISPATCH) dispids.push_back(ids);
    CheckFindName(lib.Get(), name);

    ComPtr<ITypeInfo> by_guid;
    EXPECT_TRUE(SUCCEEDED(lib->GetTypeInfoOfGuid(attr.guid, &by_guid)) &&
                MemberName(by_guid.Get(), MEMBERID_NIL) == name)
        << name << ": GetTypeInfoOfGuid does not find it";
    ComPtr<ITypeLib> container;
    UINT index = ~0u;
    info->GetContainingTypeLib(&container, &index);
    EXPECT_EQ(index, i) << name;
  }
  const auto lines = [](const auto& list) {
    std::wstring text;
    for (const auto& line : list) text += std::wstring(line) + L"\n  ";
    return text;
  };
  EXPECT_EQ(lines(types), lines(kTypes));
  EXPECT_EQ(lines(halves), lines(kDualHalves));
  EXPECT_EQ(lines(dispids), lines(kDispids));
  std::erase_if(named, [&](const std::wstring& param) {
    const std::wstring target = param.substr(param.rfind(L' ') + 1);
    return std::find(own.begin(), own.end(), target) == own.end();
  });
  EXPECT_EQ(lines(named), lines(kParamTypes));
}

}  // namespace
}  // namespace tarvex::com::testing

// Self-registration from one table: every key and value DllRegisterServer
// writes under HKEY_CLASSES_ROOT is a row below, made from the class and
// interface lists that DllUnregisterServer removes again, so the two can
// never drift apart.
//
// The type library is registered by hand rather than with RegisterTypeLib:
// the library says LCID 1033 in its header, but hosts look it up under
// locale 0, and RegisterTypeLib would file it under 409.
//
// On a 64-bit Windows the i686 and the x86_64 file may both be registered,
// each in its own registry view.  The CLSID keys are per view, but the ProgID
// and TypeLib keys are one copy for both, and the Interface keys may be, so
// unregistering one file keeps a shared key that the other view's
// registration still refers to, and the last one out takes such keys out of
// both views.
#include <cstring>
#include <string>
#include <vector>

#include "module.h"
#include "server.h"
#include "tarvex4_idl.h"

namespace tarvex::com {
namespace {

// The standard automation proxies: PSOAInterface for dual interfaces,
// PSDispatch for dispatch-only ones.
constexpr wchar_t kProxyDual[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kProxyDispatch[] = L"{00020420-0000-0000-C000-000000000046}";
constexpr wchar_t kLibVersion[] = L"77.0";
// Registry keys of type library versions are in hexadecimal.
constexpr wchar_t kLibVersionKey[] = L"4d.0";
// Recompose on resize, cannot link inside, inside-out, activate when
// visible, set client site first.
constexpr wchar_t kMiscStatus[] = L"131473";
#ifdef _WIN64
constexpr wchar_t kPlatform[] = L"win64";
#else
constexpr wchar_t kPlatform[] = L"win32";
#endif

std::wstring Text(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

struct Value {
  std::wstring key;   // below HKEY_CLASSES_ROOT
  std::wstring name;  // "" for the key's default value
  std::wstring data;
};

struct Class {
  CLSID clsid;
  const wchar_t* name;  // "Tarvex"
  bool control;
};

constexpr Class kClasses[] = {
    {__uuidof(::Tarvex), L"Tarvex", true},
    {__uuidof(::SMSDeliver), L"SMSDeliver", false},
};

struct Interface {
  IID iid;
  const wchar_t* name;
  const wchar_t* proxy;
};

const Interface kInterfaces[] = {
    {__uuidof(_Tarvex), L"_Tarvex", kProxyDual},
    {__uuidof(_SMSDeliver), L"_SMSDeliver", kProxyDual},
    {__uuidof(_TRegistry), L"_TRegistry", kProxyDual},
    {__uuidof(__Tarvex), L"__Tarvex", kProxyDispatch},
    {__uuidof(_Collection), L"_Collection", kProxyDual},
};

std::wstring LibKey() { return L"TypeLib\\" + Text(kLibId); }

// The other registry view: the one this file's size does not see.
#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

std::vector<Value> Rows() {
  const std::wstring path = ModulePath();
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
  const std::wstring lib = Text(kLibId);
  std::vector<Value> rows;
  for (const Class& c : kClasses) {
    const std::wstring prog = std::wstring(L"Tarvex4.") + c.name;
    const std::wstring prog1 = prog + L".1";
    const std::wstring key = L"CLSID\\" + Text(c.clsid);
    rows.insert(rows.end(), {
                                {key, L"", prog},
                                {key + L"\\InprocServer32", L"", path},
                                {key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
                                {key + L"\\ProgID", L"", prog1},
                                {key + L"\\VersionIndependentProgID", L"", prog},
                                {key + L"\\TypeLib", L"", lib},
                                {key + L"\\Version", L"", kLibVersion},
                                {prog, L"", prog},
                                {prog + L"\\CLSID", L"", Text(c.clsid)},
                                {prog + L"\\CurVer", L"", prog1},
                                {prog1, L"", prog},
                                {prog1 + L"\\CLSID", L"", Text(c.clsid)},
                            });
    if (c.control) {
      rows.insert(rows.end(), {
                                  {key + L"\\Control", L"", L""},
                                  {key + L"\\MiscStatus", L"", kMiscStatus},
                                  {key + L"\\MiscStatus\\1", L"", kMiscStatus},
                                  {key + L"\\ToolboxBitmap32", L"", path + L", 30000"},
                              });
    }
  }
  for (const Interface& i : kInterfaces) {
    const std::wstring key = L"Interface\\" + Text(i.iid);
    rows.insert(rows.end(), {
                                {key, L"", i.name},
                                {key + L"\\ProxyStubClsid", L"", i.proxy},
                                {key + L"\\ProxyStubClsid32", L"", i.proxy},
                                {key + L"\\TypeLib", L"", lib},
                                {key + L"\\TypeLib", L"Version", kLibVersion},
                            });
  }
  const std::wstring version = LibKey() + L"\\" + kLibVersionKey;
  rows.insert(rows.end(), {
                              {version, L"", L"Tarvex4"},
                              {version + L"\\FLAGS", L"", L"2"},  // LIBFLAG_FCONTROL
                              {version + L"\\HELPDIR", L"", folder},
                              {version + L"\\0\\" + kPlatform, L"", path},
                          });
  return rows;
}

bool Write(const Value& row) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, row.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG status = RegSetValueExW(key, row.name.empty() ? nullptr : row.name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(row.data.c_str()),
                                     static_cast<DWORD>((row.data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool HasSubkeys(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return subkeys > 0;
}

void Remove(const std::wstring& path) { RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str()); }

// The key's full name (\REGISTRY\MACHINE\...), which tells whether the two
// views reach the same key; "" when it cannot be told.
std::wstring FullName(HKEY key) {
  using Query = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  constexpr int kKeyNameInformation = 3;
  std::vector<BYTE> info(4096);
  ULONG size = 0;
  if (query == nullptr ||
      query(key, kKeyNameInformation, info.data(), static_cast<ULONG>(info.size()), &size) != 0) {
    return L"";
  }
  ULONG length = 0;  // KEY_NAME_INFORMATION: the name's length in bytes, then the name
  std::memcpy(&length, info.data(), sizeof length);
  std::wstring name(length / sizeof(wchar_t), L'\0');
  std::memcpy(name.data(), info.data() + sizeof length, name.size() * sizeof(wchar_t));
  return name;
}

HKEY Open(const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key);
  return key;
}

// Whether each view has a key of its own at `path`.  Unless that is certain,
// the key is taken to be shared: kept rather than break the other file.
// (Wine's 64-bit HKEY_CLASSES_ROOT opened for the 32-bit view does not fall
// back to the shared keys as a 32-bit process's does, so a shared ProgID may
// not open there at all.)
bool DistinctInEachView(const std::wstring& path) {
  HKEY mine = Open(path, 0);
  HKEY other = Open(path, kOtherView);
  bool distinct = mine != nullptr && other != nullptr;
  if (distinct) {
    const std::wstring name = FullName(mine);
    const std::wstring other_name = FullName(other);
    distinct = !name.empty() && !other_name.empty() && name != other_name;
  }
  if (mine != nullptr) RegCloseKey(mine);
  if (other != nullptr) RegCloseKey(other);
  return distinct;
}

void RemoveFromBothViews(const std::wstring& path) {
  Remove(path);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS | kOtherView, &key) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), kOtherView, 0);
  }
}

// Unregisters a key that the other view may share: kept while the other
// view's registration refers to it, gone from both views once it does not.
void Release(const std::wstring& path, bool other_refers) {
  if (!other_refers) {
    RemoveFromBothViews(path);
  } else if (DistinctInEachView(path)) {
    Remove(path);
  }
}

// A value of the other view's registration of a class ("" when missing).  On
// a 32-bit Windows there is no other view: the flag is ignored and this view,
// whose class keys are gone by then, answers.
std::wstring OtherView(const CLSID& clsid, const wchar_t* subkey) {
  HKEY key = Open(L"CLSID\\" + Text(clsid) + L"\\" + subkey, kOtherView);
  if (key == nullptr) return L"";
  wchar_t data[512] = {};
  DWORD size = sizeof data - sizeof data[0];
  DWORD type = REG_NONE;
  const LONG status =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? data : L"";
}

}  // namespace

HRESULT RegisterServer() {
  for (const Value& row : Rows()) {
    if (!Write(row)) {
      UnregisterServer();
      return row.key.rfind(L"TypeLib", 0) == 0 ? SELFREG_E_TYPELIB : SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  // This view's class keys first: the checks below must not find them.
  for (const Class& c : kClasses) Remove(L"CLSID\\" + Text(c.clsid));
  const std::wstring lib = Text(kLibId);
  bool library_in_use = false;
  for (const Class& c : kClasses) {
    const std::wstring prog = std::wstring(L"Tarvex4.") + c.name;
    Release(prog, OtherView(c.clsid, L"VersionIndependentProgID") == prog);
    Release(prog + L".1", OtherView(c.clsid, L"ProgID") == prog + L".1");
    library_in_use = library_in_use || OtherView(c.clsid, L"TypeLib") == lib;
  }
  for (const Interface& i : kInterfaces) Release(L"Interface\\" + Text(i.iid), library_in_use);
  // The library's key may also hold the other platform's build (win32 beside
  // win64) or another version: only this build's part goes, then whatever
  // is left empty.
  const std::wstring version = LibKey() + L"\\" + kLibVersionKey;
  Remove(version + L"\\0\\" + kPlatform);
  if (!HasSubkeys(version + L"\\0")) {
    Remove(version + L"\\0");
    Remove(version);
    if (!HasSubkeys(LibKey())) Remove(LibKey());
  }
  return S_OK;
}

}  // namespace tarvex::com

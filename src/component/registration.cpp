// Self-registration from one table: every key and value DllRegisterServer
// writes under HKEY_CLASSES_ROOT is a row below, and DllUnregisterServer
// removes exactly those rows' keys, so the two can never drift apart.
//
// The type library is registered by hand rather than with RegisterTypeLib:
// the library says LCID 1033 in its header, but hosts look it up under
// locale 0, and RegisterTypeLib would file it under 409.
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

// The rows; `roots` gets the keys that unregistration removes whole.
std::vector<Value> Rows(std::vector<std::wstring>* roots) {
  const std::wstring path = ModulePath();
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
  const std::wstring lib = Text(kLibId);
  std::vector<Value> rows;
  for (const Class& c : kClasses) {
    const std::wstring prog = std::wstring(L"Tarvex4.") + c.name;
    const std::wstring prog1 = prog + L".1";
    const std::wstring key = L"CLSID\\" + Text(c.clsid);
    roots->insert(roots->end(), {key, prog, prog1});
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
    roots->push_back(key);
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

}  // namespace

HRESULT RegisterServer() {
  std::vector<std::wstring> roots;
  for (const Value& row : Rows(&roots)) {
    if (!Write(row)) {
      UnregisterServer();
      return row.key.rfind(L"TypeLib", 0) == 0 ? SELFREG_E_TYPELIB : SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  std::vector<std::wstring> roots;
  Rows(&roots);
  for (const std::wstring& root : roots) Remove(root);
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

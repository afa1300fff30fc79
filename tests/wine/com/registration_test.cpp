// What regsvr32 wrote, key by key, and that regsvr32 /u took exactly that
// away again (the same test program, run after unregistration with
// TARVEX_EXPECT_UNREGISTERED=all, or "own" when only this size's file was
// taken away: the keys both sizes share then stay while the other is registered).
#include <cstdlib>
#include <string>

#include "wine_test.h"

namespace tarvex::com::testing {
namespace {

const wchar_t kTarvex[] = L"CLSID\\{39E7394A-CFA3-412B-9958-E0ECD090AD11}";
const wchar_t kSMSDeliver[] = L"CLSID\\{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}";
const wchar_t kLib[] = L"{DDAD54A4-C1D4-497D-B14F-98E7FEB8BDE2}";

bool ExpectUnregistered() {
  const char* value = std::getenv("TARVEX_EXPECT_UNREGISTERED");
  return value != nullptr && *value != '\0';
}

std::wstring Read(const std::wstring& key, const wchar_t* name = nullptr) {
  return ReadText(HKEY_CLASSES_ROOT, key, name).value_or(L"<missing>");
}
bool Exists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  return RegCloseKey(key), true;
}

std::wstring Platform() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }

TEST(Registration, WritesEveryKeyOfTheClassesAndTheLibrary) {
  if (ExpectUnregistered()) GTEST_SKIP() << "checking unregistration";
  const std::wstring lib = kLib;
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } rows[] = {
      {std::wstring(kTarvex) + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {std::wstring(kTarvex) + L"\\ProgID", nullptr, L"Tarvex4.Tarvex.1"},
      {std::wstring(kTarvex) + L"\\VersionIndependentProgID", nullptr, L"Tarvex4.Tarvex"},
      {std::wstring(kTarvex) + L"\\TypeLib", nullptr, lib},
      {std::wstring(kTarvex) + L"\\Version", nullptr, L"77.0"},
      {std::wstring(kTarvex) + L"\\MiscStatus", nullptr, L"131473"},
      {std::wstring(kTarvex) + L"\\MiscStatus\\1", nullptr, L"131473"},
      {std::wstring(kTarvex) + L"\\Control", nullptr, L""},
      {std::wstring(kSMSDeliver) + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {std::wstring(kSMSDeliver) + L"\\ProgID", nullptr, L"Tarvex4.SMSDeliver.1"},
      {std::wstring(kSMSDeliver) + L"\\VersionIndependentProgID", nullptr, L"Tarvex4.SMSDeliver"},
      {std::wstring(kSMSDeliver) + L"\\TypeLib", nullptr, lib},
      {L"Tarvex4.Tarvex\\CLSID", nullptr, L"{39E7394A-CFA3-412B-9958-E0ECD090AD11}"},
      {L"Tarvex4.Tarvex\\CurVer", nullptr, L"Tarvex4.Tarvex.1"},
      {L"Tarvex4.Tarvex.1\\CLSID", nullptr, L"{39E7394A-CFA3-412B-9958-E0ECD090AD11}"},
      {L"Tarvex4.SMSDeliver\\CLSID", nullptr, L"{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}"},
      {L"Tarvex4.SMSDeliver.1\\CLSID", nullptr, L"{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}"},
      {L"TypeLib\\" + lib + L"\\4d.0", nullptr, L"Tarvex4"},
      {L"TypeLib\\" + lib + L"\\4d.0\\FLAGS", nullptr, L"2"},
      {L"Interface\\{29A99EB3-F92D-41C5-853B-78C052D8F57C}\\ProxyStubClsid32", nullptr,
       L"{00020424-0000-0000-C000-000000000046}"},
      {L"Interface\\{BD6C2FCC-A3CF-4416-8C34-AAA14B0E4456}\\ProxyStubClsid32", nullptr,
       L"{00020420-0000-0000-C000-000000000046}"},
      {L"Interface\\{711B35FD-0630-4ED8-A384-06BCBF02AAF2}\\TypeLib", L"Version", L"77.0"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Read(row.key, row.name), row.value) << std::string(row.key.begin(), row.key.end());
  }
  // The module's own path, wherever the build put it.
  const std::wstring server = Read(std::wstring(kTarvex) + L"\\InprocServer32");
  EXPECT_NE(GetFileAttributesW(server.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Read(std::wstring(kTarvex) + L"\\ToolboxBitmap32"), server + L", 30000");
  EXPECT_EQ(Read(L"TypeLib\\" + lib + L"\\4d.0\\0\\" + Platform()), server);
  // The library is registered under locale 0 only.
  EXPECT_FALSE(Exists(L"TypeLib\\" + lib + L"\\4d.0\\409"));
  // TRegistry is in the library but no host may create it (its factory
  // refuses too: the Server test).
  EXPECT_FALSE(Exists(L"CLSID\\{29EEABE9-D9B7-4FB1-ADA9-5659F53897E4}"));
}

// The path of the other size's file where it is registered beside this one,
// else "".
std::wstring OtherFile() {
  return ReadText(HKEY_CLASSES_ROOT, std::wstring(kTarvex) + L"\\InprocServer32", nullptr,
                  sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY)
      .value_or(L"");
}

TEST(Registration, UnregistrationRemovesWhatRegistrationWrote) {
  if (!ExpectUnregistered()) GTEST_SKIP() << "run after regsvr32 /u";
  // This view's own keys go; a 64-bit Windows, like Wine, keeps Interface
  // keys per view.
  const std::wstring lib = L"TypeLib\\" + std::wstring(kLib);
  for (const std::wstring& key :
       {std::wstring(kTarvex), std::wstring(kSMSDeliver), lib + L"\\4d.0\\0\\" + Platform(),
        std::wstring(L"Interface\\{29A99EB3-F92D-41C5-853B-78C052D8F57C}"),
        std::wstring(L"Interface\\{BD6C2FCC-A3CF-4416-8C34-AAA14B0E4456}"),
        std::wstring(L"Interface\\{62C2173B-F8AC-4732-9C35-49128CDB8F06}")}) {
    EXPECT_FALSE(Exists(key)) << std::string(key.begin(), key.end());
  }
  // The keys both views share stay while the other size's file is
  // registered, and go with the last one.
  const bool other = !OtherFile().empty();
  for (const std::wstring& key :
       {std::wstring(L"Tarvex4.Tarvex"), std::wstring(L"Tarvex4.Tarvex.1"),
        std::wstring(L"Tarvex4.SMSDeliver"), std::wstring(L"Tarvex4.SMSDeliver.1"), lib}) {
    EXPECT_EQ(Exists(key), other) << std::string(key.begin(), key.end());
  }
}

}  // namespace
}  // namespace tarvex::com::testing

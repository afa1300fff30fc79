// The registry seam over the real (Wine's) registry, checked against what the
// wide calls see, under a scratch key of HKEY_CURRENT_USER that is removed
// again.  The settings stores over it, in the machine's 32-bit view, are the
// dialog test's and the C++ client's.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Utf8z(std::string_view text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Bytes Raw(std::wstring_view text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  return Bytes(p, p + text.size() * sizeof(wchar_t));
}

// The UTF-16 units with their NUL, as a proper REG_SZ holds them.
Bytes RawZ(const wchar_t* text) { return Raw({text, wcslen(text) + 1}); }

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\Tarvex test " + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(scratch_);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()), ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }

  RegHandle Scratch() const { return reinterpret_cast<RegHandle>(scratch_); }

  // "type:bytes" as the wide calls see the value below the scratch key.
  std::string Stored(const std::wstring& sub, const std::wstring& name) {
    HKEY key = nullptr;
    DWORD type = 0, size = 0;
    std::string bytes(4096, '\0');
    if (RegOpenKeyExW(scratch_, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "missing";
    size = static_cast<DWORD>(bytes.size());
    const LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(bytes.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "missing";
    return std::to_string(type) + ":" + bytes.substr(0, size);
  }
  void Store(const std::wstring& name, DWORD type, const Bytes& bytes) {
    ASSERT_EQ(RegSetValueExW(scratch_, name.c_str(), 0, type, bytes.data(),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  // "type:bytes" or the failing status, through the seam's two-step read.
  std::string Read(RegHandle key, const std::string& name) {
    uint32_t type = 0, size = 0;
    RegStatus status = reg_.QueryValue(key, name, &type, nullptr, &size);
    Bytes data(size);
    if (status == kRegSuccess) status = reg_.QueryValue(key, name, &type, data.data(), &size);
    if (status != kRegSuccess) return "status " + std::to_string(status);
    return std::to_string(type) + ":" + std::string(data.begin(), data.begin() + size);
  }

  std::wstring path_;
  HKEY scratch_ = nullptr;
  Win32Registry reg_;
};

std::string Typed(DWORD type, const Bytes& bytes) {
  return std::to_string(type) + ":" + std::string(bytes.begin(), bytes.end());
}

TEST_F(Win32RegistryTest, ValuesCrossAsUtf8AndAreStoredAsTheWideCallsExpect) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  const struct {
    const char* name;
    const wchar_t* wide_name;
    uint32_t type;
    Bytes seam;    // what goes in and comes out on the seam
    Bytes stored;  // what the registry holds
  } cases[] = {
      {"пусто", L"пусто", REG_SZ, Utf8z(""), RawZ(L"")},
      {"Ελλάδα", L"Ελλάδα", REG_EXPAND_SZ, Utf8z("%TEMP%\\Μόντεμ 😀"), RawZ(L"%TEMP%\\Μόντεμ 😀")},
      {"bytes", L"bytes", REG_BINARY, all, all},
      {"dword", L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}},
      {"", L"", REG_MULTI_SZ, Raw({L"a\0b\0", 5}), Raw({L"a\0b\0", 5})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(reg_.SetValue(Scratch(), c.name, c.type, c.seam.data(),
                            static_cast<uint32_t>(c.seam.size())),
              kRegSuccess);
    EXPECT_EQ(Stored(L"", c.wide_name), Typed(c.type, c.stored));
    EXPECT_EQ(Read(Scratch(), c.name), Typed(c.type, c.seam));
  }
  // Text another program stored without its NUL, or with no bytes at all.
  Store(L"bare", REG_SZ, Raw(L"Ελλάδα"));
  EXPECT_EQ(Read(Scratch(), "bare"), Typed(REG_SZ, Utf8z("Ελλάδα")));
  Store(L"none", REG_SZ, {});
  EXPECT_EQ(Read(Scratch(), "none"), Typed(REG_SZ, Utf8z("")));
}

TEST_F(Win32RegistryTest, SizesCountUtf8BytesAndFollowAValueThatChanges) {
  Store(L"name", REG_SZ, RawZ(L"Модем"));  // 12 bytes stored, 11 on the seam
  uint32_t type = 0, size = 0;
  ASSERT_EQ(reg_.QueryValue(Scratch(), "name", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(type, uint32_t{REG_SZ});
  EXPECT_EQ(size, 11u);
  uint8_t buffer[64];
  size = 10;
  EXPECT_EQ(reg_.QueryValue(Scratch(), "name", &type, buffer, &size), kRegMoreData);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(reg_.QueryValue(Scratch(), "name", &type, buffer, &size), kRegSuccess);
  EXPECT_EQ(Bytes(buffer, buffer + size), Utf8z("Модем"));

  // Another writer between the caller's size query and its data query.
  Store(L"name", REG_SZ, RawZ(L"Модем номер два"));
  size = 11;
  EXPECT_EQ(reg_.QueryValue(Scratch(), "name", &type, buffer, &size), kRegMoreData);
  EXPECT_EQ(size, Utf8z("Модем номер два").size());
  RegDeleteValueW(scratch_, L"name");
  EXPECT_EQ(reg_.QueryValue(Scratch(), "name", &type, buffer, &size), kRegFileNotFound);
}

TEST_F(Win32RegistryTest, KeysRootsMissingThingsAndDeletion) {
  RegHandle key = 0;
  ASSERT_EQ(reg_.CreateKey(Scratch(), "Слоты\\Ελληνικά", &key), kRegSuccess);
  ASSERT_EQ(reg_.SetValue(key, "v", REG_SZ, Utf8z("x").data(), 2), kRegSuccess);
  EXPECT_EQ(reg_.CloseKey(key), kRegSuccess);
  EXPECT_EQ(Stored(L"Слоты\\Ελληνικά", L"v"), Typed(REG_SZ, RawZ(L"x")));

  // The roots are the sign-extended predefined handles.
  const std::string full = Narrow(path_) + "\\слоты\\ΕΛΛΗΝΙΚΆ";
  ASSERT_EQ(reg_.OpenKey(kRegCurrentUser, full, &key), kRegSuccess);
  EXPECT_EQ(Read(key, "V"), Typed(REG_SZ, Utf8z("x")));
  EXPECT_EQ(reg_.DeleteValue(key, "v"), kRegSuccess);
  EXPECT_EQ(reg_.DeleteValue(key, "v"), kRegFileNotFound);
  EXPECT_EQ(Read(key, "v"), "status 2");
  reg_.CloseKey(key);

  key = 1;
  EXPECT_EQ(reg_.OpenKey(Scratch(), "missing\\key", &key), kRegFileNotFound);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(reg_.CloseKey(0), kRegInvalidHandle);
}

}  // namespace
}  // namespace tarvex::win32

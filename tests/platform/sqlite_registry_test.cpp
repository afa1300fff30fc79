#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/t_registry.h"
#include "platform/posix/posix_platform.h"
#include "testing/memory_registry.h"

namespace tarvex::posix {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class SqliteRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarvex-reg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string MachineDb() const { return (dir_ / "machine" / "registry.db").string(); }
  std::string UserDb() const { return (dir_ / "user" / "user.db").string(); }
  std::unique_ptr<SqliteRegistry> Open() {
    return std::make_unique<SqliteRegistry>(MachineDb(), UserDb());
  }

  static RegStatus Set(RegistryBackend& reg, RegHandle root, const std::string& path,
                       const std::string& name, uint32_t type, const Bytes& bytes) {
    RegHandle key = 0;
    RegStatus status = reg.CreateKey(root, path, &key);
    if (status != kRegSuccess) return status;
    status = reg.SetValue(key, name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
    reg.CloseKey(key);
    return status;
  }

  // The value as "type:bytes" or the failing status, so a mismatch reads plainly.
  static std::string Get(RegistryBackend& reg, RegHandle root, const std::string& path,
                         const std::string& name) {
    RegHandle key = 0;
    RegStatus status = reg.OpenKey(root, path, &key);
    if (status != kRegSuccess) return "open " + std::to_string(status);
    uint32_t type = 0;
    uint32_t size = 0;
    status = reg.QueryValue(key, name, &type, nullptr, &size);
    std::string out;
    if (status == kRegSuccess) {
      Bytes data(size);
      status = reg.QueryValue(key, name, &type, data.data(), &size);
      out = std::to_string(type) + ":" + std::string(data.begin(), data.end());
    }
    reg.CloseKey(key);
    return status == kRegSuccess ? out : "query " + std::to_string(status);
  }

  fs::path dir_;
};

TEST_F(SqliteRegistryTest, KeysValuesAndTheirCase) {
  auto reg = Open();
  EXPECT_EQ(Set(*reg, kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1", kRegSz, {'3', 0}),
            kRegSuccess);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "software\\clients\\ROUTE", "DVP1"),
            std::string("1:3\0", 4));
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "\\SOFTWARE\\\\Clients\\Route\\", "dvp1"),
            std::string("1:3\0", 4))
      << "separators at the ends and doubled are ignored";

  // Ancestors exist; siblings and other roots do not.
  RegHandle key = 0;
  EXPECT_EQ(reg->OpenKey(kRegLocalMachine, "Software", &key), kRegSuccess);
  RegHandle child = 0;
  EXPECT_EQ(reg->OpenKey(key, "CLIENTS\\route", &child), kRegSuccess) << "open below a handle";
  EXPECT_EQ(reg->CloseKey(child), kRegSuccess);
  EXPECT_EQ(reg->CloseKey(key), kRegSuccess);
  EXPECT_EQ(reg->CloseKey(key), kRegInvalidHandle) << "closed twice";
  EXPECT_EQ(reg->OpenKey(kRegLocalMachine, "SOFTWARE\\Other", &key), kRegFileNotFound);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(Get(*reg, kRegCurrentUser, "SOFTWARE\\Clients\\Route", "dvp1"), "open 2");

  // A value takes the new type; the name keeps the case it was first written with.
  EXPECT_EQ(Set(*reg, kRegLocalMachine, "SOFTWARE\\Clients\\Route", "DvP1", kRegBinary, {3, 0}),
            kRegSuccess);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1"),
            std::string("3:\3\0", 4));
  auto values = reg->EnumStringValues(kRegLocalMachine, "SOFTWARE\\Clients\\Route");
  EXPECT_TRUE(values.empty()) << "binary values are not listed as text";
}

TEST_F(SqliteRegistryTest, QueryValueSizesAndDefaultValue) {
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegCurrentUser, "K", "", kRegSz, {'d', 'e', 'f', 0}), kRegSuccess);
  ASSERT_EQ(Set(*reg, kRegCurrentUser, "K", "empty", kRegBinary, {}), kRegSuccess);
  RegHandle key = 0;
  ASSERT_EQ(reg->OpenKey(kRegCurrentUser, "k", &key), kRegSuccess);
  uint32_t type = 0;
  uint32_t size = 0;
  EXPECT_EQ(reg->QueryValue(key, "", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 4u);
  uint8_t small[2];
  size = sizeof small;
  EXPECT_EQ(reg->QueryValue(key, "", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reg->QueryValue(key, "empty", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(reg->QueryValue(key, "missing", &type, nullptr, &size), kRegFileNotFound);
  EXPECT_EQ(reg->DeleteValue(key, "missing"), kRegFileNotFound);
  EXPECT_EQ(reg->DeleteValue(key, "EMPTY"), kRegSuccess);
  EXPECT_EQ(reg->QueryValue(key, "empty", &type, nullptr, &size), kRegFileNotFound);
  reg->CloseKey(key);
  EXPECT_EQ(reg->QueryValue(key, "", &type, nullptr, &size), kRegInvalidHandle);
  EXPECT_EQ(reg->SetValue(0, "x", kRegSz, nullptr, 0), kRegInvalidHandle);
  EXPECT_EQ(reg->CloseKey(0), kRegInvalidHandle);
}

TEST_F(SqliteRegistryTest, RootsLiveInTheirOwnFilesAndPersist) {
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "", "x"), "query 2");
  EXPECT_FALSE(fs::exists(dir_ / "machine")) << "a read creates nothing";
  {
    auto reg = Open();
    ASSERT_EQ(Set(*reg, kRegLocalMachine, "A", "x", kRegSz, {'m', 0}), kRegSuccess);
    EXPECT_TRUE(fs::exists(MachineDb()));
    EXPECT_FALSE(fs::exists(UserDb()));
    ASSERT_EQ(Set(*reg, kRegCurrentUser, "A", "x", kRegSz, {'u', 0}), kRegSuccess);
  }
  auto again = Open();
  EXPECT_EQ(Get(*again, kRegLocalMachine, "a", "X"), std::string("1:m\0", 4));
  EXPECT_EQ(Get(*again, kRegCurrentUser, "a", "X"), std::string("1:u\0", 4));
}

TEST_F(SqliteRegistryTest, UnwritableStoreFailsWritesAndReadsNothing) {
  std::ofstream(dir_ / "blocker") << "a file where the directory should be";
  const std::string below_file = (dir_ / "blocker" / "registry.db").string();
  SqliteRegistry reg(below_file, below_file);
  RegHandle key = 0;
  EXPECT_EQ(reg.CreateKey(kRegLocalMachine, "A", &key), kRegAccessDenied);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(reg.SetValue(kRegLocalMachine, "x", kRegSz, nullptr, 0), kRegAccessDenied);
  EXPECT_EQ(reg.DeleteValue(kRegLocalMachine, "x"), kRegAccessDenied);
  EXPECT_EQ(reg.OpenKey(kRegLocalMachine, "A", &key), kRegFileNotFound);
  TRegistry t(reg);
  t.SaveString(kHkeyLocalMachine, "A", "x", "y");  // silently nothing
  EXPECT_EQ(t.GetString(kHkeyLocalMachine, "A", "x"), "");
}

TEST_F(SqliteRegistryTest, DefaultPathsFollowTheEnvironment) {
  const char* saved = std::getenv("TARVEX_STATE_DIR");
  std::string keep = saved ? saved : "";
  setenv("TARVEX_STATE_DIR", "/tmp/somewhere", 1);
  EXPECT_EQ(SqliteRegistry::DefaultMachineDbPath(), "/tmp/somewhere/registry.db");
  EXPECT_EQ(SqliteRegistry::DefaultUserDbPath(), "/tmp/somewhere/user.db");
  unsetenv("TARVEX_STATE_DIR");
  EXPECT_EQ(SqliteRegistry::DefaultMachineDbPath(), "/var/lib/tarvex/registry.db");
  const char* xdg = std::getenv("XDG_STATE_HOME");
  std::string keep_xdg = xdg ? xdg : "";
  setenv("XDG_STATE_HOME", "/x/state", 1);
  EXPECT_EQ(SqliteRegistry::DefaultUserDbPath(), "/x/state/tarvex/registry.db");
  if (xdg)
    setenv("XDG_STATE_HOME", keep_xdg.c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");
  if (saved) setenv("TARVEX_STATE_DIR", keep.c_str(), 1);
}

TEST_F(SqliteRegistryTest, TRegistryRoundTripOverTheDatabase) {
  auto reg = Open();
  TRegistry t(*reg);
  t.SaveString(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvb1", "115200");
  t.SaveStringLong(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1", "3");
  EXPECT_EQ(t.GetString(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvb1"), "115200");
  EXPECT_EQ(t.GetString(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1"), "3");
  t.DelSetting(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1");
  EXPECT_EQ(t.GetString(kHkeyLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1"), "");
}

// Runs `body` in a child process with a registry of its own; returns its pid.
template <typename Body>
pid_t Spawn(const std::string& machine, const std::string& user, Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    bool ok = false;
    {
      SqliteRegistry reg(machine, user);
      ok = body(reg);
    }
    _exit(ok ? 0 : 1);
  }
  return pid;
}

bool ExitedCleanly(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SqliteRegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 150;
  auto writer = [](const char* prefix) {
    return [prefix](SqliteRegistry& reg) {
      for (int i = 0; i < kEach; ++i) {
        const std::string name = prefix + std::to_string(i);
        if (Set(reg, kRegLocalMachine, "Shared\\Key", name, kRegSz,
                Bytes(name.begin(), name.end())) != kRegSuccess) {
          return false;
        }
      }
      return true;
    };
  };
  pid_t a = Spawn(MachineDb(), UserDb(), writer("a"));
  pid_t b = Spawn(MachineDb(), UserDb(), writer("b"));
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_TRUE(ExitedCleanly(a));
  EXPECT_TRUE(ExitedCleanly(b));

  auto reg = Open();
  auto values = reg->EnumStringValues(kRegLocalMachine, "shared\\key");
  EXPECT_EQ(values.size(), 2u * kEach);
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kEach; ++i) {
      const std::string name = prefix + std::to_string(i);
      ASSERT_EQ(Get(*reg, kRegLocalMachine, "Shared\\Key", name), "1:" + name);
    }
  }
}

TEST_F(SqliteRegistryTest, AReaderNeverSeesAHalfWrittenValue) {
  constexpr uint32_t kSize = 64 * 1024;
  constexpr int kRounds = 120;
  {
    auto reg = Open();
    ASSERT_EQ(Set(*reg, kRegLocalMachine, "Big", "blob", kRegBinary, Bytes(kSize, 0)), kRegSuccess);
  }
  pid_t writer = Spawn(MachineDb(), UserDb(), [](SqliteRegistry& reg) {
    for (int round = 1; round <= kRounds; ++round) {
      if (Set(reg, kRegLocalMachine, "Big", "blob", kRegBinary,
              Bytes(kSize, static_cast<uint8_t>(round))) != kRegSuccess) {
        return false;
      }
    }
    return true;
  });
  ASSERT_GT(writer, 0);

  // Read as fast as possible while the writer runs: every value read must be
  // one whole version, never a mix of two.
  auto reg = Open();
  RegHandle key = 0;
  ASSERT_EQ(reg->OpenKey(kRegLocalMachine, "Big", &key), kRegSuccess);
  Bytes data(kSize);
  int reads = 0;
  int status = 0;
  uint8_t last_seen = 0;
  while (waitpid(writer, &status, WNOHANG) == 0 || reads == 0) {
    uint32_t size = kSize;
    uint32_t type = 0;
    ASSERT_EQ(reg->QueryValue(key, "blob", &type, data.data(), &size), kRegSuccess);
    ASSERT_EQ(size, kSize);
    for (uint32_t i = 1; i < kSize; ++i) {
      ASSERT_EQ(data[i], data[0]) << "mixed versions at byte " << i;
    }
    ASSERT_GE(data[0], last_seen) << "went back in time";
    last_seen = data[0];
    ++reads;
  }
  reg->CloseKey(key);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(RegistryUserSettingsTest, StoresWhereSaveSettingDoes) {
  testing::MemoryRegistry memory;
  RegistryUserSettings settings(memory);
  const std::string section =
      "Software\\VB and VBA Program Settings\\Velmoria\\Tarvex v4.0 - Modem #2";
  settings.SaveSetting("Velmoria", "Tarvex v4.0 - Modem #2", "Port", "3");
  EXPECT_EQ(memory.Get(kRegCurrentUser, section, "port"),
            (testing::MemoryRegistry::Value{kRegSz, {'3', 0}}));
  settings.DeleteSetting("Velmoria", "Tarvex v4.0 - Modem #2", "Port");
  EXPECT_FALSE(memory.Get(kRegCurrentUser, section, "Port"));
  settings.DeleteSetting("Velmoria", "Tarvex v4.0 - Modem #9", "Port");
  EXPECT_FALSE(memory.KeyExists(
      kRegCurrentUser, "Software\\VB and VBA Program Settings\\Velmoria\\Tarvex v4.0 - Modem #9"))
      << "a delete leaves no empty section behind";
  memory.SetFailWrites(true);
  settings.SaveSetting("Velmoria", "S", "K", "v");  // silent
  EXPECT_EQ(memory.OpenHandles(), 0);
}

}  // namespace
}  // namespace tarvex::posix

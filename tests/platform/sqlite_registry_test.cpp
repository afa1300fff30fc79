#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "testing/memory_registry.h"

namespace tarvex::posix {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

RegStatus Set(RegistryBackend& reg, RegHandle root, const std::string& path,
              const std::string& name, uint32_t type, const Bytes& bytes) {
  RegHandle key = 0;
  RegStatus status = reg.CreateKey(root, path, &key);
  if (status == kRegSuccess) {
    status = reg.SetValue(key, name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  reg.CloseKey(key);
  return status;
}

// The value as "type:bytes" or the failing status, so a mismatch reads plainly.
std::string Get(RegistryBackend& reg, RegHandle root, const std::string& path,
                const std::string& name) {
  RegHandle key = 0;
  RegStatus status = reg.OpenKey(root, path, &key);
  if (status != kRegSuccess) return "open " + std::to_string(status);
  uint32_t type = 0, size = 0;
  status = reg.QueryValue(key, name, &type, nullptr, &size);
  Bytes data(size);
  if (status == kRegSuccess) status = reg.QueryValue(key, name, &type, data.data(), &size);
  reg.CloseKey(key);
  if (status != kRegSuccess) return "query " + std::to_string(status);
  return std::to_string(type) + ":" + std::string(data.begin(), data.end());
}

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

  fs::path dir_;
};

TEST_F(SqliteRegistryTest, KeysValuesAndTheirCase) {
  auto reg = Open();
  const std::string route = "SOFTWARE\\Clients\\Route";
  ASSERT_EQ(Set(*reg, kRegLocalMachine, route, "dvp1", kRegSz, {'3', 0}), kRegSuccess);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "software\\clients\\ROUTE", "DVP1"),
            std::string("1:3\0", 4));
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "\\SOFTWARE\\\\Clients\\Route\\", "dvp1"),
            std::string("1:3\0", 4))
      << "separators at the ends and doubled are ignored";

  // Ancestors exist; siblings and other roots do not.
  RegHandle key = 0, child = 0;
  EXPECT_EQ(reg->OpenKey(kRegLocalMachine, "Software", &key), kRegSuccess);
  EXPECT_EQ(reg->OpenKey(key, "CLIENTS\\route", &child), kRegSuccess) << "open below a handle";
  EXPECT_EQ(reg->CloseKey(child), kRegSuccess);
  EXPECT_EQ(reg->CloseKey(key), kRegSuccess);
  EXPECT_EQ(reg->CloseKey(key), kRegInvalidHandle) << "closed twice";
  EXPECT_EQ(reg->OpenKey(kRegLocalMachine, "SOFTWARE\\Other", &key), kRegFileNotFound);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(Get(*reg, kRegCurrentUser, route, "dvp1"), "open 2");

  // A value takes the new type; binary values are not listed as text.
  ASSERT_EQ(Set(*reg, kRegLocalMachine, route, "DvP1", kRegBinary, {3, 0}), kRegSuccess);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, route, "dvp1"), std::string("3:\3\0", 4));
  EXPECT_TRUE(reg->EnumStringValues(kRegLocalMachine, route).empty());
}

TEST_F(SqliteRegistryTest, QueryValueSizesAndDefaultValue) {
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegCurrentUser, "K", "", kRegSz, {'d', 'e', 'f', 0}), kRegSuccess);
  ASSERT_EQ(Set(*reg, kRegCurrentUser, "K", "empty", kRegBinary, {}), kRegSuccess);
  RegHandle key = 0;
  ASSERT_EQ(reg->OpenKey(kRegCurrentUser, "k", &key), kRegSuccess);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(reg->QueryValue(key, "", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(std::make_pair(type, size), std::make_pair(uint32_t{kRegSz}, 4u));
  uint8_t small[2];
  size = sizeof small;
  EXPECT_EQ(reg->QueryValue(key, "", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reg->QueryValue(key, "empty", &type, nullptr, &size), kRegSuccess);
  EXPECT_EQ(std::make_pair(type, size), std::make_pair(uint32_t{kRegBinary}, 0u));
  EXPECT_EQ(reg->DeleteValue(key, "missing"), kRegFileNotFound);
  EXPECT_EQ(reg->DeleteValue(key, "EMPTY"), kRegSuccess);
  EXPECT_EQ(reg->QueryValue(key, "empty", &type, nullptr, &size), kRegFileNotFound);
  reg->CloseKey(key);
  EXPECT_EQ(reg->QueryValue(key, "", &type, nullptr, &size), kRegInvalidHandle);
  EXPECT_EQ(reg->SetValue(0, "x", kRegSz, nullptr, 0), kRegInvalidHandle);
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

bool ExitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

TEST_F(SqliteRegistryTest, ConcurrentWritersLoseNothingAndReadersSeeWholeValues) {
  constexpr int kNameWriters = 7;
  constexpr int kNames = 20;  // per name writer
  constexpr int kRounds = 40;
  constexpr uint32_t kSize = 64 * 1024;
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegLocalMachine, "Big", "blob", kRegBinary, Bytes(kSize, 0)), kRegSuccess);
  // Eight processes compete for the write lock, none may be refused: seven add
  // small values, one rewrites a large value again and again.
  std::vector<pid_t> names;
  for (int w = 0; w < kNameWriters; ++w) {
    names.push_back(Spawn(MachineDb(), UserDb(), [w](SqliteRegistry& child) {
      for (int i = 0; i < kNames; ++i) {
        const std::string name = "n" + std::to_string(w * kNames + i);
        const Bytes text(name.begin(), name.end());
        if (Set(child, kRegLocalMachine, "Shared", name, kRegSz, text) != kRegSuccess) return false;
      }
      return true;
    }));
  }
  const pid_t blobs = Spawn(MachineDb(), UserDb(), [](SqliteRegistry& child) {
    for (int round = 1; round <= kRounds; ++round) {
      if (Set(child, kRegLocalMachine, "Big", "blob", kRegBinary,
              Bytes(kSize, static_cast<uint8_t>(round))) != kRegSuccess) {
        return false;
      }
    }
    return true;
  });
  ASSERT_TRUE(names.back() > 0 && blobs > 0);

  // Read as fast as possible meanwhile: every value read must be one whole
  // version, never a mix of two, and never an older one.
  RegHandle key = 0;
  ASSERT_EQ(reg->OpenKey(kRegLocalMachine, "Big", &key), kRegSuccess);
  Bytes data(kSize);
  int status = 0;
  uint8_t last_seen = 0;
  for (int reads = 0; reads == 0 || waitpid(blobs, &status, WNOHANG) == 0; ++reads) {
    uint32_t size = kSize, type = 0;
    ASSERT_EQ(reg->QueryValue(key, "blob", &type, data.data(), &size), kRegSuccess);
    ASSERT_EQ(size, kSize);
    for (uint32_t i = 1; i < kSize; ++i) ASSERT_EQ(data[i], data[0]) << "mixed at byte " << i;
    ASSERT_GE(data[0], last_seen) << "went back in time";
    last_seen = data[0];
  }
  reg->CloseKey(key);
  EXPECT_TRUE(ExitedCleanly(status));
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "Big", "blob"),
            "3:" + std::string(kSize, static_cast<char>(kRounds)));
  for (pid_t pid : names) {
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(ExitedCleanly(status));
  }
  EXPECT_EQ(reg->EnumStringValues(kRegLocalMachine, "shared").size(),
            size_t{kNameWriters * kNames});
  for (int i = 0; i < kNameWriters * kNames; ++i) {
    const std::string name = "n" + std::to_string(i);
    ASSERT_EQ(Get(*reg, kRegLocalMachine, "Shared", name), "1:" + name);
  }
}

// A process killed inside a group leaves none of its writes; a group that
// commits lands whole.
TEST_F(SqliteRegistryTest, GroupOfWritesLandsWholeOrNotAtAll) {
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegLocalMachine, "Route", "dvp1", kRegSz, {'3', 0}), kRegSuccess);
  const pid_t killed = Spawn(MachineDb(), UserDb(), [](SqliteRegistry& child) {
    child.BeginWrites(kRegLocalMachine);
    Set(child, kRegLocalMachine, "Route", "dvp1", kRegSz, {'7', 0});
    Set(child, kRegLocalMachine, "Device", "dvn1", kRegSz, {'N', 0});
    _exit(0);  // as kill -9 would: no commit, no rollback
    return true;
  });
  int status = 0;
  ASSERT_EQ(waitpid(killed, &status, 0), killed);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "Route", "dvp1"), std::string("1:3\0", 4));
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "Device", "dvn1"), "open 2");

  ASSERT_EQ(reg->BeginWrites(kRegLocalMachine), kRegSuccess);
  Set(*reg, kRegLocalMachine, "Route", "dvp1", kRegSz, {'7', 0});
  Set(*reg, kRegLocalMachine, "Device", "dvn1", kRegSz, {'N', 0});
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "Route", "dvp1"), std::string("1:3\0", 4))
      << "another process sees nothing of an open group";
  ASSERT_EQ(reg->EndWrites(true), kRegSuccess);
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "Device", "dvn1"), std::string("1:N\0", 4));
}

// Damage is reported with the path, and the file is left exactly as it was.
TEST_F(SqliteRegistryTest, DamagedDatabaseIsReportedAndNeverReplaced) {
  const std::vector<std::pair<const char*, void (*)(const std::string&)>> damages = {
      {"truncated", [](const std::string& db) { fs::resize_file(db, 9000); }},
      {"emptied", [](const std::string& db) { fs::resize_file(db, 0); }},
      {"overwritten", [](const std::string& db) { std::ofstream(db) << std::string(20000, 'x'); }},
  };
  for (const auto& [what, damage] : damages) {
    fs::remove_all(dir_ / "machine");
    ASSERT_EQ(Set(*Open(), kRegLocalMachine, "Route", "dvp1", kRegSz, {'3', 0}), kRegSuccess);
    damage(MachineDb());
    const auto size = fs::file_size(MachineDb());
    auto reg = Open();
    EXPECT_NE(reg->ReadProblem(kRegLocalMachine).find(MachineDb() + " is damaged"),
              std::string::npos)
        << what << ": " << reg->ReadProblem(kRegLocalMachine);
    EXPECT_EQ(Set(*reg, kRegLocalMachine, "Route", "dvp2", kRegSz, {'4', 0}), kRegAccessDenied)
        << what;
    EXPECT_NE(reg->WriteProblem(kRegLocalMachine).find("is damaged"), std::string::npos) << what;
    EXPECT_EQ(fs::file_size(MachineDb()), size) << what;
  }
}

// File modes hold for root too, so an ordinary user is what this takes.
TEST_F(SqliteRegistryTest, EveryUserReadsAndIsToldWhenTheyCannot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as user nobody";
  const mode_t old_umask = umask(077);
  ASSERT_EQ(Set(*Open(), kRegLocalMachine, "Route", "dvp1", kRegSz, {'3', 0}), kRegSuccess);
  umask(old_umask);
  EXPECT_EQ(fs::status(MachineDb()).permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(dir_ / "machine").permissions(), fs::perms(0755));
  fs::permissions(dir_, fs::perms(0755));
  auto as_nobody = [this](int (*body)(SqliteRegistry&)) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
      SqliteRegistry reg(MachineDb(), UserDb());
      _exit(body(reg));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(as_nobody([](SqliteRegistry& reg) {
              if (Get(reg, kRegLocalMachine, "Route", "dvp1") != std::string("1:3\0", 4)) return 1;
              if (Set(reg, kRegLocalMachine, "Route", "dvp1", kRegSz, {'4', 0}) != kRegAccessDenied)
                return 2;
              return reg.WriteProblem(kRegLocalMachine).ends_with("permission denied") ? 0 : 3;
            }),
            0);
  fs::permissions(MachineDb(), fs::perms(0600));
  EXPECT_EQ(as_nobody([](SqliteRegistry& reg) {
              return reg.ReadProblem(kRegLocalMachine) == "cannot read the settings store " +
                                                              reg.machine_db() +
                                                              ": permission denied"
                         ? 0
                         : 1;
            }),
            0);
}

TEST(RegistryUserSettingsTest, StoresWhereSaveSettingDoes) {
  testing::MemoryRegistry memory;
  RegistryUserSettings settings(memory);
  const std::string root = "Software\\VB and VBA Program Settings\\Velmoria\\";
  settings.SaveSetting("Velmoria", "Tarvex v4.0 - Modem #2", "Port", "3");
  EXPECT_EQ(memory.Get(kRegCurrentUser, root + "Tarvex v4.0 - Modem #2", "port"),
            (testing::MemoryRegistry::Value{kRegSz, {'3', 0}}));
  settings.DeleteSetting("Velmoria", "Tarvex v4.0 - Modem #2", "Port");
  EXPECT_FALSE(memory.Get(kRegCurrentUser, root + "Tarvex v4.0 - Modem #2", "Port"));
  settings.DeleteSetting("Velmoria", "Tarvex v4.0 - Modem #9", "Port");
  EXPECT_FALSE(memory.KeyExists(kRegCurrentUser, root + "Tarvex v4.0 - Modem #9"))
      << "a delete leaves no empty section behind";
  memory.SetFailWrites(true);
  settings.SaveSetting("Velmoria", "S", "K", "v");  // silent
  EXPECT_EQ(memory.OpenHandles(), 0);
}

}  // namespace
}  // namespace tarvex::posix

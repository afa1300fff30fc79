// The two SQLite stores on real files in a fresh folder: the settings store
// (keys, values, files per root, writers in several processes, damage, file
// modes) and the receiver's state (kept across reopen, foreign files refused).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "platform/posix/sqlite_receive_store.h"
#include "tarvex/error.h"

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

// What Get gives for text a REG_SZ value holds (with its NUL).
std::string Sz(const std::string& text) { return "1:" + text + '\0'; }
Bytes Text(const std::string& text) { return Bytes(text.c_str(), text.c_str() + text.size() + 1); }

class SqliteRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarvex-sqlite-XXXXXX").string();
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
  ASSERT_EQ(Set(*reg, kRegLocalMachine, route, "dvp1", kRegSz, Text("3")), kRegSuccess);
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "software\\clients\\ROUTE", "DVP1"), Sz("3"));
  EXPECT_EQ(Get(*reg, kRegLocalMachine, "\\SOFTWARE\\\\Clients\\Route\\", "dvp1"), Sz("3"))
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

// Sizes as Get reads them are in every test; a short buffer is TRegistry's
// re-read when a value grew between its two queries.
TEST_F(SqliteRegistryTest, ShortBufferAndDeletedValues) {
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegCurrentUser, "K", "v", kRegSz, Text("def")), kRegSuccess);
  RegHandle key = 0;
  ASSERT_EQ(reg->OpenKey(kRegCurrentUser, "k", &key), kRegSuccess);
  uint32_t type = 0, size = 2;
  uint8_t small[2];
  EXPECT_EQ(reg->QueryValue(key, "v", &type, small, &size), kRegMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reg->DeleteValue(key, "missing"), kRegFileNotFound);
  EXPECT_EQ(reg->DeleteValue(key, "V"), kRegSuccess);
  EXPECT_EQ(reg->QueryValue(key, "v", &type, nullptr, &size), kRegFileNotFound);
  reg->CloseKey(key);
}

TEST_F(SqliteRegistryTest, RootsLiveInTheirOwnFilesAndPersist) {
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "", "x"), "query 2");
  EXPECT_FALSE(fs::exists(dir_ / "machine")) << "a read creates nothing";
  {
    auto reg = Open();
    ASSERT_EQ(Set(*reg, kRegLocalMachine, "A", "x", kRegSz, Text("m")), kRegSuccess);
    EXPECT_TRUE(fs::exists(MachineDb()));
    EXPECT_FALSE(fs::exists(UserDb()));
    ASSERT_EQ(Set(*reg, kRegCurrentUser, "A", "x", kRegSz, Text("u")), kRegSuccess);
  }
  auto again = Open();
  EXPECT_EQ(Get(*again, kRegLocalMachine, "a", "X"), Sz("m"));
  EXPECT_EQ(Get(*again, kRegCurrentUser, "a", "X"), Sz("u"));
}

// Runs `body` in a child process with a registry of its own, as user nobody
// when asked; returns its pid.  The child exits with what `body` returns.
pid_t Spawn(const std::string& machine, const std::string& user, auto body, bool nobody = false) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    int code = 0;
    {
      SqliteRegistry reg(machine, user);
      code = body(reg);
    }
    _exit(code);
  }
  return pid;
}

// A child's exit code, -1 when it did not exit.
int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
int Reap(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid ? ExitCode(status) : -1;
}

// Eight processes compete for the write lock while this one reads: no writer
// and no read may be refused, and nothing written is lost.
TEST_F(SqliteRegistryTest, ConcurrentWritersAndReadersAreNeverRefused) {
  constexpr int kWriters = 8, kNames = 20;
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegLocalMachine, "Shared", "n", kRegSz, Text("n")), kRegSuccess);
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(Spawn(MachineDb(), UserDb(), [w](SqliteRegistry& child) {
      for (int i = w * kNames; i < (w + 1) * kNames; ++i) {
        const std::string name = "n" + std::to_string(i);
        if (Set(child, kRegLocalMachine, "Shared", name, kRegSz, Text(name))) return 1;
      }
      return 0;
    }));
  }
  for (pid_t pid : writers) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      ASSERT_EQ(Get(*reg, kRegLocalMachine, "Shared", "n"), Sz("n"));
    }
    EXPECT_EQ(ExitCode(status), 0);
  }
  EXPECT_EQ(reg->EnumStringValues(kRegLocalMachine, "shared").size(),
            size_t{kWriters * kNames + 1});
}

// An open group is seen by no one else; when it commits it lands whole.  (What
// a process killed inside one leaves is SQLite's journal recovery.)
TEST_F(SqliteRegistryTest, GroupOfWritesLandsWholeOrNotAtAll) {
  auto reg = Open();
  ASSERT_EQ(Set(*reg, kRegLocalMachine, "Route", "dvp1", kRegSz, Text("3")), kRegSuccess);
  ASSERT_EQ(reg->BeginWrites(kRegLocalMachine), kRegSuccess);
  Set(*reg, kRegLocalMachine, "Route", "dvp1", kRegSz, Text("7"));
  Set(*reg, kRegLocalMachine, "Device", "dvn1", kRegSz, Text("N"));
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "Route", "dvp1"), Sz("3"))
      << "another process sees nothing of an open group";
  ASSERT_EQ(reg->EndWrites(true), kRegSuccess);
  EXPECT_EQ(Get(*Open(), kRegLocalMachine, "Device", "dvn1"), Sz("N"));
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
    ASSERT_EQ(Set(*Open(), kRegLocalMachine, "Route", "dvp1", kRegSz, Text("3")), kRegSuccess);
    damage(MachineDb());
    const auto size = fs::file_size(MachineDb());
    auto reg = Open();
    EXPECT_NE(reg->ReadProblem(kRegLocalMachine).find(MachineDb() + " is damaged"),
              std::string::npos)
        << what << ": " << reg->ReadProblem(kRegLocalMachine);
    EXPECT_EQ(Set(*reg, kRegLocalMachine, "Route", "dvp2", kRegSz, Text("4")), kRegAccessDenied)
        << what;
    EXPECT_NE(reg->WriteProblem(kRegLocalMachine).find("is damaged"), std::string::npos) << what;
    EXPECT_EQ(fs::file_size(MachineDb()), size) << what;
  }
}

// File modes hold for root too, so an ordinary user is what this takes.
TEST_F(SqliteRegistryTest, EveryUserReadsAndIsToldWhenTheyCannot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as user nobody";
  const mode_t old_umask = umask(077);
  ASSERT_EQ(Set(*Open(), kRegLocalMachine, "Route", "dvp1", kRegSz, Text("3")), kRegSuccess);
  umask(old_umask);
  EXPECT_EQ(fs::status(MachineDb()).permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(dir_ / "machine").permissions(), fs::perms(0755));
  fs::permissions(dir_, fs::perms(0755));
  const auto as_nobody = [&](auto body) { return Reap(Spawn(MachineDb(), UserDb(), body, true)); };
  EXPECT_EQ(
      as_nobody([](SqliteRegistry& reg) {
        if (Get(reg, kRegLocalMachine, "Route", "dvp1") != Sz("3")) return 1;
        if (Set(reg, kRegLocalMachine, "Route", "dvp1", kRegSz, Text("4")) != kRegAccessDenied) {
          return 2;
        }
        return reg.WriteProblem(kRegLocalMachine).ends_with("permission denied") ? 0 : 3;
      }),
      0);
  fs::permissions(MachineDb(), fs::perms(0600));
  const std::string refused =
      "cannot read the settings store " + MachineDb() + ": permission denied";
  EXPECT_EQ(
      as_nobody([&](SqliteRegistry& reg) { return reg.ReadProblem(kRegLocalMachine) != refused; }),
      0);
}

class SqliteReceiveStoreTest : public SqliteRegistryTest {
 protected:
  std::string Db() const { return (dir_ / "state" / "receive.db").string(); }

  // The error opening raises, or "" when it opens.
  std::string OpenError() {
    try {
      SqliteReceiveStore store(Db());
    } catch (const Error& e) {
      return std::to_string(e.number()) + " " + e.what();
    }
    return "";
  }
};

StoredPart Part(int32_t index, const std::string& pdu) {
  return {0, {1, "SM", index}, "+31611111111", "00030702", 2, 1, pdu, "Meet at ", 100};
}

TEST_F(SqliteReceiveStoreTest, KeepsEverythingAcrossReopen) {
  {
    SqliteReceiveStore store(Db());
    StoredPart a = Part(1, "AA"), again = Part(1, "AA"), b = Part(2, "BB");
    EXPECT_TRUE(store.AddPart(a));
    EXPECT_FALSE(store.AddPart(again)) << "the same entry seen again";
    EXPECT_TRUE(store.AddPart(b));
    store.RecordHandover({{{1, "SM", 2}, "BB", 200}}, {b.id});
    PendingSend send{0, 1, 77, "+31612345678", 2, 300};
    store.AddSend(send);
  }
  SqliteReceiveStore store(Db());
  const auto parts = store.Parts(1);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].text, "Meet at ");
  EXPECT_TRUE(store.WasHandedOver({1, "SM", 2}, "BB"));
  EXPECT_FALSE(store.WasHandedOver({1, "SM", 2}, "AA"));
  EXPECT_EQ(store.Sends(1, 77).at(0).recipient, "+31612345678");

  store.KeepOnly(1, "SM", {1});
  EXPECT_FALSE(store.WasHandedOver({1, "SM", 2}, "BB")) << "index 2 is no longer listed";
  EXPECT_EQ(store.Parts(1).at(0).place.index, 1);

  EXPECT_EQ(fs::status(Db()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir_ / "state").permissions(), fs::perms::owner_all);
}

TEST_F(SqliteReceiveStoreTest, DamagedForeignOrNewerFileIsReportedAndLeftAlone) {
  fs::create_directories(dir_ / "state");
  std::ofstream(Db()) << std::string(4096, 'x');
  EXPECT_EQ(OpenError().rfind("8110 receive state " + Db() + ": cannot read it as a database", 0),
            0u);
  EXPECT_EQ(fs::file_size(Db()), 4096u) << "never recreated";

  auto made_by = [&](const char* sql) {
    fs::remove(Db());
    sqlite3* db = nullptr;
    sqlite3_open(Db().c_str(), &db);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    return OpenError();
  };
  EXPECT_NE(made_by("CREATE TABLE t(x)").find("not a tarvex state file"), std::string::npos);
  EXPECT_NE(made_by("PRAGMA user_version = 9").find("newer tarvex"), std::string::npos);
}

}  // namespace
}  // namespace tarvex::posix

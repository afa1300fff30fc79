#include "platform/posix/sqlite_receive_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tarvex/error.h"

namespace tarvex::posix {
namespace {

namespace fs = std::filesystem;

class SqliteReceiveStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarvex-recv-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
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

  fs::path dir_;
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
    StoredPart c = Part(1, "CC");  // place 1 now holds another entry
    EXPECT_TRUE(store.AddPart(c));
    store.RecordHandover({{{1, "SM", 2}, "BB", 200}}, {b.id});
    PendingSend send{0, 1, 77, "+31612345678", 2, 300};
    store.AddSend(send);
  }
  SqliteReceiveStore store(Db());
  const auto parts = store.Parts(1);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].place.index, -1) << "lost its place to CC";
  EXPECT_EQ(parts[0].text, "Meet at ");
  EXPECT_EQ(parts[1].pdu, "CC");
  EXPECT_TRUE(store.WasHandedOver({1, "SM", 2}, "BB"));
  EXPECT_FALSE(store.WasHandedOver({1, "SM", 2}, "CC"));
  EXPECT_EQ(store.Sends(1, 77).at(0).recipient, "+31612345678");

  store.KeepOnly(1, "SM", {1});
  EXPECT_FALSE(store.WasHandedOver({1, "SM", 2}, "BB")) << "index 2 is no longer listed";
  EXPECT_EQ(store.Parts(1)[1].place.index, 1);

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

#include "receive/receiver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/deliver_builder.h"
#include "common/text.h"
#include "platform/posix/sqlite_receive_store.h"

namespace tarvex {
namespace {

constexpr const char* kAnn = "+31611111111";
constexpr const char* kBob = "+31622222222";

std::string Single(const char* sender, const std::u16string& text, int second = 0) {
  return BuildDeliverPdu(
      {.sender = sender, .second = second, .text = text, .concat = std::nullopt});
}
std::string Part(const char* sender, int ref, int total, int seq, const std::u16string& text,
                 int second = 0) {
  return BuildDeliverPdu(
      {.sender = sender, .second = second, .text = text, .concat = {{ref, total, seq}}});
}

// The real store in a file of its own, removed afterwards.  In memory where
// the system has a tmpfs: the store syncs every write, a second per run on a disk.
class TempStore {
 public:
  TempStore() : path_(Path()), store_(path_) {}
  ~TempStore() { std::filesystem::remove(path_); }
  posix::SqliteReceiveStore& operator*() { return store_; }

 private:
  static std::string Path() {
    static int made = 0;
    const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                          ? "/dev/shm"
                                          : std::filesystem::temp_directory_path();
    return dir / ("tarvex-rcv-" + std::to_string(getpid()) + "-" + std::to_string(++made) + ".db");
  }
  std::string path_;
  posix::SqliteReceiveStore store_;
};

// A modem's storages and a watcher's passes over them, as `tarvex watch`
// makes them: observe every entry, hand over what is ready, delete.  Each
// pass returns what happened as text.
class Watch {
 public:
  Watch() { Restart(); }
  void Restart() { receiver_ = std::make_unique<Receiver>(*store_); }
  void Put(const std::string& storage, int index, std::string pdu) {
    modem_[{storage, index}] = std::move(pdu);
  }
  Receiver& receiver() { return *receiver_; }
  ReceiveStore& store() { return *store_; }

  // crash: the process dies after recording the handover, before deleting.
  std::string Pass(int64_t now, bool crash = false) {
    std::string log;
    std::map<std::string, std::vector<int32_t>> listed;
    for (auto [place, pdu] : std::map(modem_)) {
      listed[place.first].push_back(place.second);
      const Observation seen = receiver_->Observe(1, place.first, place.second, pdu, now);
      const std::string where = place.first + std::to_string(place.second);
      if (seen.fate == EntryFate::kUndecodable) log += "[kept undecodable " + where + "]";
      if (seen.fate == EntryFate::kStatusReport) log += "[report " + where + "]";
      if (seen.fate == EntryFate::kHandedOver) {
        log += "[delete only " + where + "]";
        Delete({1, place.first, place.second});
      }
    }
    for (auto& [storage, present] : listed) receiver_->ListingDone(1, storage, present);
    for (const ReceivedMessage& m : receiver_->Ready(1, now)) {
      log += "[" + m.first.PhoneNumber() + " '" + Utf16ToUtf8(m.text) + "' " + m.storage;
      for (int n : m.missing) log += " -" + std::to_string(n);
      log += " del";
      for (const EntryPlace& place : receiver_->Handed(m, now)) {
        log += " " + place.storage + std::to_string(place.index);
        if (!crash) Delete(place);
      }
      log += "]";
    }
    return log;
  }

 private:
  void Delete(const EntryPlace& place) {
    modem_.erase({place.storage, place.index});
    receiver_->Deleted(place);
  }

  TempStore store_;
  std::unique_ptr<Receiver> receiver_;
  std::map<std::pair<std::string, int>, std::string> modem_;
};

using Arrive = std::tuple<std::string, int, std::string>;  // storage, index, PDU
struct Step {
  std::vector<Arrive> arrive;
  int64_t pass_at = 0;
  std::string expect;  // the pass's log
  bool restart_before = false;
  bool crash = false;
};
struct Case {
  const char* name;
  std::vector<Step> steps;
};

TEST(ReceiverTest, HandsEachMessageOverOnceAndDeletesOnlyAfterwards) {
  const std::string ann_a = Part(kAnn, 7, 2, 1, u"Meet at ");
  const Case cases[] = {
      {"single message", {{{{"SM", 1, Single(kAnn, u"Hi")}}, 0, "[+31611111111 'Hi' SM del SM1]"}}},
      {"parts out of order, across passes, storages and a restart",
       {{{{"SM", 2, Part(kAnn, 9, 3, 2, u"b")}}, 0, ""},
        {{{"SM", 1, Part(kAnn, 9, 3, 3, u"c")}}, 10, ""},
        {{{"ME", 1, Part(kAnn, 9, 3, 1, u"a")}},
         20,
         "[+31611111111 'abc' ME,SM del SM2 SM1 ME1]",
         true}}},
      {"killed between handover and deletion: deleted, not handed over again",
       {{{{"SM", 1, Single(kAnn, u"Hi")}}, 0, "[+31611111111 'Hi' SM del SM1]", false, true},
        {{}, 1, "[delete only SM1]", true},
        {{}, 2, ""}}},
      {"incomplete after the part timeout, the late part on its own",
       {{{{"SM", 1, Part(kAnn, 3, 3, 1, u"a")}, {"SM", 3, Part(kAnn, 3, 3, 3, u"c")}}, 0, ""},
        {{}, 3599, ""},
        {{}, 3600, "[+31611111111 'ac' SM -2 del SM1 SM3]"},
        {{{"SM", 2, Part(kAnn, 3, 3, 2, u"b")}}, 3700, ""},
        {{}, 7300, "[+31611111111 'b' SM -1 -3 del SM2]"}}},
      {"an entry that does not decode stays, a status report goes to its decoder",
       {{{{"SM", 4, "07913164"},
          {"SR", 1, "07911326060032F006D60B911326880736F4111011719551401110117195714000"}},
         0,
         "[kept undecodable SM4][report SR1]"},
        {{}, 1, "[kept undecodable SM4][report SR1]"}}},
      {"a part delivered twice is handed over once, both copies deleted",
       {{{{"SM", 1, ann_a}, {"SM", 2, Part(kAnn, 7, 2, 1, u"Meet at ", 5)}}, 0, ""},
        {{{"SM", 3, Part(kAnn, 7, 2, 2, u"8")}},
         1,
         "[+31611111111 'Meet at 8' SM del SM1 SM2 SM3]"}}},
      {"two senders, and one sender twice, with the same reference",
       {{{{"SM", 1, ann_a},
          {"SM", 2, Part(kBob, 7, 2, 1, u"Lunch ")},
          {"SM", 3, Part(kAnn, 7, 2, 1, u"Call me ")},
          {"SM", 4, Part(kBob, 7, 2, 2, u"now")},
          {"SM", 5, Part(kAnn, 7, 2, 2, u"9")},
          {"SM", 6, Part(kAnn, 7, 2, 2, u"later")}},
         0,
         "[+31611111111 'Meet at 9' SM del SM1 SM5][+31622222222 'Lunch now' SM del SM2 SM4]"
         "[+31611111111 'Call me later' SM del SM3 SM6]"}}},
      {"a place reused by another message is not deleted for the old part",
       {{{{"SM", 1, Part(kAnn, 5, 2, 1, u"a")}}, 0, ""},
        {{{"SM", 1, Part(kBob, 6, 2, 1, u"x")}}, 1, ""},
        {{{"SM", 2, Part(kAnn, 5, 2, 2, u"b")}}, 2, "[+31611111111 'ab' SM del SM2]"},
        {{{"SM", 3, Part(kBob, 6, 2, 2, u"y")}}, 3, "[+31622222222 'xy' SM del SM1 SM3]"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Watch watch;
    for (const Step& step : c.steps) {
      if (step.restart_before) watch.Restart();
      for (const auto& [storage, index, pdu] : step.arrive) watch.Put(storage, index, pdu);
      EXPECT_EQ(watch.Pass(step.pass_at, step.crash), step.expect) << "at " << step.pass_at;
    }
  }
}

// Due at the first part's timeout, with the places the listing shows.
TEST(ReceiverTest, IncompleteMessageCarriesTheListingFields) {
  TempStore store;
  Receiver r(*store);
  r.Observe(1, "SM", 4, Part(kAnn, 0x2A, 3, 3, u"c"), 100);
  r.Observe(1, "SM", 2, Part(kAnn, 0x2A, 3, 1, u"a"), 200);
  EXPECT_EQ(r.NextTimeout(1), 3700);
  const ReceivedMessage ready = r.Ready(1, 3700).at(0);
  EXPECT_EQ(ready.parts, (std::vector<int>{1, 3}));
  EXPECT_EQ(ready.message_ids, (std::vector<std::string>{"2", "4"}));
}

TEST(ReceiverTest, StatusReportsMatchTheirSendsUntilFinal) {
  Watch watch;
  Receiver& r = watch.receiver();
  r.Sent(1, 5, "+31612345678", 1, 0);
  r.Sent(1, 5, "+31699999999", 2, 0);
  const EntryPlace sr1{1, "SR", 1};
  ReportMatch trying =
      r.MatchReport(sr1, "R1", {.message_reference = 5, .recipient = "0612345678", .status = 0x30});
  ASSERT_TRUE(trying.send);
  EXPECT_EQ(trying.send->part, 1);
  EXPECT_FALSE(trying.final);
  EXPECT_EQ(r.ReportHanded(sr1, "R1", trying, 10), sr1);
  EXPECT_TRUE(r.MatchReport(sr1, "R1", {}).handed_over) << "listed again before it was deleted";
  r.Deleted(sr1);

  ReportMatch done = r.MatchReport(
      {1, "", -1}, "R2", {.message_reference = 5, .recipient = "+31612345678", .status = 0x00});
  ASSERT_TRUE(done.send);
  EXPECT_TRUE(done.final && ReportDelivered(0x00));
  EXPECT_EQ(r.ReportHanded({1, "", -1}, "R2", done, 20), std::nullopt);
  EXPECT_EQ(watch.store().Sends(1, 5).size(), 1u) << "the delivered part is no longer waited for";
  EXPECT_FALSE(
      r.MatchReport({1, "SR", 2}, "R3", {.message_reference = 6, .recipient = "+31699999999"})
          .send);
  r.Prune(Receiver::kSendRetention + 1);
  EXPECT_TRUE(watch.store().Sends(1, 5).empty());
}

TEST(ReceiverTest, SameRecipient) {
  for (const char* same : {"0031612345678", "0612345678"}) {
    EXPECT_TRUE(Receiver::SameRecipient("+31612345678", same)) << same;
  }
  for (const char* other : {"+31612345679", "45678", "Bank"}) {
    EXPECT_FALSE(Receiver::SameRecipient("+31612345678", other)) << other;
  }
  EXPECT_TRUE(Receiver::SameRecipient("Bank", "Bank"));
}

}  // namespace
}  // namespace tarvex

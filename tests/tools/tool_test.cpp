// The tool's commands run in this process over a scripted modem on slot 1:
// what each prints and how it exits for a given answer of the modem.  The
// pseudo-terminal, the processes and Ctrl-C are the end-to-end tests' part.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <ranges>
#include <sstream>

#include "platform/posix/posix_platform.h"
#include "tarvex/commands.h"
#include "tarvex/mdl_public.h"
#include "tarvex/modem_session.h"
#include "testing/scripted_port.h"

namespace tarvex::cli {
namespace {

using tarvex::testing::FakeClock;
using tarvex::testing::ScriptedPort;

struct Ran {
  int status;
  std::string out, err;
};

const std::string kOk = "\r\nOK\r\n";

// The replies after the open's ATE0, AT+CMGF=0, AT+CMEE=0, AT+CMEE=1, AT+CPIN?.
std::vector<std::string> Opened(std::vector<std::string> replies) {
  replies.insert(replies.begin(), {kOk, kOk, kOk, kOk, "\r\n+CPIN: READY\r\n" + kOk});
  return replies;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvex-tool.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TARVEX_STATE_DIR", dir_.c_str(), 1);
    SetSessionDevices({[this](int16_t slot) -> std::unique_ptr<SerialPort> {
                         if (slot == 1) return std::move(port_);
                         return std::make_unique<ScriptedPort>(&clock_);
                       },
                       &clock_});
    ASSERT_EQ(Tool("slot set 1 --port 1 --baud 9600 --name Desk").status, 0);
  }
  void TearDown() override {
    SetSessionDevices({});
    std::filesystem::remove_all(dir_);
  }

  // Slot 1's modem answers each write with the next reply, in chunks cut at
  // '|' ("": not at all; "!hangup": goes away; "!no-open": the port cannot
  // be opened).
  void Modem(const std::vector<std::string>& replies) {
    port_ = std::make_unique<ScriptedPort>(&clock_);
    for (const std::string& reply : replies) {
      if (reply == "!no-open") {
        port_->FailNextOpen(8002);
      } else if (reply == "!hangup") {
        port_->ExpectAnyWrite().HangUp();
      } else {
        port_->ExpectAnyWrite();
        for (const auto chunk : std::views::split(reply, '|')) {
          port_->Reply(std::string(chunk.begin(), chunk.end()));
        }
      }
    }
  }

  Ran Tool(std::string_view line, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"tarvex"};
    for (const auto word : std::views::split(line, ' '))
      args.emplace_back(word.begin(), word.end());
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    struct Capture {
      std::streambuf *out, *err;
      ~Capture() {
        std::cout.rdbuf(out);
        std::cerr.rdbuf(err);
      }
    } capture{std::cout.rdbuf(out.rdbuf()), std::cerr.rdbuf(err.rdbuf())};
    const int status = RunTool(static_cast<int>(argv.size()), argv.data());
    return {status, out.str(), err.str()};
  }

  std::string dir_;
  FakeClock clock_;
  std::unique_ptr<ScriptedPort> port_;
};

// Each answer must end in its exit status and a clear message (on stdout
// for a success, else on stderr), in bounded time.
TEST_F(ToolTest, ModemCommandsSayWhatTheModemAnswered) {
  const std::string cpms = "\r\n+CPMS: \"ME\",0,100,\"SM\",0,30,\"SM\",0,30\r\n" + kOk;
  const std::string ucs2 = "\r\n+CUSD: 0,\"041E0441044204300442043E043A00200035\",72\r\n";
  struct Case {
    std::vector<std::string> modem;
    const char* args;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {Opened({"\r\nQuectel\r\n" + kOk, "\r\nEC25\r\n" + kOk, "\r\n86123\r\n" + kOk, cpms}),
       "info -m 1 --json", 0,
       R"("DeviceManufacture":"QUECTEL","DeviceModel":"EC25","DeviceIMEI":"86123",)"
       R"("MessageStorage":"ME","DeviceName":"Desk"})"},
      {Opened({kOk, cpms}), "storage -m 1 ME --json", 0, R"("MessageStorage":"ME")"},
      {Opened({"\r\n+CMS ERROR: 302\r\n"}), "storage -m 1 XX", 1, "storage XX"},
      {Opened({kOk + "|" + ucs2}), "ussd -m 1 *1# --json", 0, R"("Text":"Остаток 5")"},
      {{""}, "info -m 1", 3, "did not initialise"},
      {{"\r\nERROR\r\n"}, "info -m 1", 3, "refused its initialisation"},
      {{"!no-open"}, "info -m 1", 3, "could not open port 1"},
      {{}, "info -m 2", 3, "tarvex slot set 2"},
      {Opened({"!hangup"}), "info -m 1", 5, "port closed"},
      {Opened({kOk}), "ussd -m 1 *1# --timeout 300", 4, "within 300 ms (TIMEOUT)"},
      {Opened({"\r\n+CMS ERROR: 321\r\n"}), "delete -m 1 1", 1, "did not delete"},
      {Opened({"\r\n> ", "\r\n+CMS ERROR: 500\r\n"}), "send -m 1 +123 hi", 1,
       "refused: +CMS ERROR 500: unknown error"},
      {Opened({"\r\nERROR\r\n"}), "list -m 1", 1, "refused the listing"},
      {Opened({kOk + "|\r\n+CUSD: 4\r\n"}), "ussd -m 1 *1#", 1, "network refused"},
      {Opened({}), "ussd -m 1 *1#\b\b\b;+CMGD=1,4", 5, "U+0008 (backspace)"},
  };
  for (const Case& c : cases) {
    Modem(c.modem);
    const Ran r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.says), std::string::npos) << c.says << r.err;
  }
}

// `slot set` and `slot remove` go through the dialog's Apply and Remove.
TEST_F(ToolTest, SlotCommandsGoThroughApplyAndRemove) {
  struct Step {
    const char* args;
    std::vector<std::string> name_option;
    int status;
    std::string port;  // dvp1 afterwards
    std::string name;  // dvn1 afterwards
  };
  const Step steps[] = {
      {"slot remove 1", {}, 0, "", ""},
      {"slot remove 1", {}, 5, "", ""},  // nothing stored: Remove is not offered
      {"slot set 5 --port 3 --baud 9600", {}, 2, "", ""},
      {"slot set 1 --port COM3 --baud 9600", {}, 2, "", ""},
      {"slot set 1 --port 3 --baud 4800", {}, 2, "", ""},
      {"slot set 1 --port 3 --baud 9600", {"--name", "123456789012345678901"}, 2, "", ""},
      {"slot set 1 --port 4 --baud 9600", {"--name", " Desk"}, 0, "4", " Desk"},
      // Without --name the name field keeps what was loaded, trimmed.
      {"slot set 1 --port 5 --baud 2400", {}, 0, "5", "Desk"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.args) + " " + ::testing::PrintToString(step.name_option));
    const Ran r = Tool(step.args, step.name_option);
    EXPECT_EQ(r.status, step.status) << r.err;
    const auto store = posix::SqliteRegistry::OpenDefault();
    EXPECT_EQ(mdlPublic::GetPortSetting(*store, 1), step.port);
    EXPECT_EQ(mdlPublic::GetDeviceNameSetting(*store, 1), step.name);
  }
  // A store directory that cannot be created: the command must say so
  // rather than report success.
  std::ofstream(dir_ + "/file") << "not a directory";
  setenv("TARVEX_STATE_DIR", (dir_ + "/file/state").c_str(), 1);
  const Ran r = Tool("slot set 1 --port 3 --baud 9600");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("the settings store " + dir_ + "/file/state/registry.db"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace tarvex::cli

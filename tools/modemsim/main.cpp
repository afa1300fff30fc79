// tarvex-modemsim: the simulated GSM modem served on a pseudo-terminal.
//
// Thin shell around modemsim::Modem: it reads the options, fills the inbox,
// opens the pseudo-terminal, prints the slave's path on stdout (one line) and
// then moves bytes between the terminal and the core with a poll loop, writing
// each piece of output at the time the core says.  It keeps its own raw-mode
// descriptor of the slave open for its whole life, so that a client closing
// the port neither hangs up the master nor gets a line discipline that echoes.
// Ends on SIGTERM/SIGINT (status 0) or after the injected hang-up.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "modemsim/inbox.h"
#include "modemsim/modem.h"

namespace {

using tarvex::modemsim::Modem;
using tarvex::modemsim::ModemOptions;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int Fail(const std::string& what) {
  std::cerr << "tarvex-modemsim: " << what << "\n";
  return 1;
}

std::string SysError(const std::string& what) { return what + ": " + std::strerror(errno); }

tarvex::modemsim::WallTime LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm lt{};
  localtime_r(&t, &lt);
  tarvex::modemsim::WallTime w;
  w.year = lt.tm_year + 1900;
  w.month = lt.tm_mon + 1;
  w.day = lt.tm_mday;
  w.hour = lt.tm_hour;
  w.minute = lt.tm_min;
  w.second = lt.tm_sec;
  w.zone_quarters = static_cast<int>(lt.tm_gmtoff / 900);
  return w;
}

struct Args {
  std::string link;
  std::string inbox_file;
  int generate = 0;
  bool demo = false;
  std::string log_file;
  std::string ussd_mode = "ok";
  std::vector<std::string> cms_error_on;
  int hangup_after = -1;
};

}  // namespace

int main(int argc, char** argv) {
  ModemOptions opts;
  tarvex::modemsim::Faults& faults = opts.faults;
  Args args;
  CLI::App app{
      "tarvex-modemsim: a GSM modem in PDU mode on a pseudo-terminal.\n"
      "Prints the terminal's path on stdout, then serves AT commands until SIGTERM/SIGINT.",
      "tarvex-modemsim"};
  app.set_version_flag("--version", "tarvex-modemsim " TARVEX_VERSION);
  app.footer(
      "CMD names a command: CMGS for AT+CMGS, E0 for ATE0, Z for ATZ, AT for a bare AT.\n\n"
      "Example:\n"
      "  tarvex-modemsim --link /tmp/ttyGSM0 --demo-inbox --loopback +31600000000 \\\n"
      "                  --log sent.jsonl --delay 20 &\n"
      "  picocom /tmp/ttyGSM0     # type AT+CMGL=4");
  app.add_option("--link", args.link, "Also reach the terminal through this symlink")
      ->type_name("PATH");
  app.add_option("--inbox", args.inbox_file,
                 "File of stored PDUs: one a line, optional \"stat,\" in front, '#' comments")
      ->check(CLI::ExistingFile)
      ->type_name("FILE");
  app.add_option("--generate-inbox", args.generate, "Add N generated 7-bit messages")
      ->check(CLI::Range(0, 100000))
      ->type_name("N");
  app.add_flag("--demo-inbox", args.demo,
               "Add a 7-bit, a UCS2 and a three-part concatenated message");
  app.add_option("--log", args.log_file, "Write every sent PDU as a JSON line to FILE")
      ->type_name("FILE");
  app.add_option("--loopback", opts.loopback_number, "Messages sent to NUMBER arrive in the inbox")
      ->type_name("NUMBER");
  app.add_flag("--notify", opts.notify, "Announce loopback arrivals with +CMTI");
  app.add_option("--manufacturer", opts.identity.manufacturer, "AT+CGMI answer")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--model", opts.identity.model, "AT+CGMM answer")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--revision", opts.identity.revision, "AT+CGMR answer")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--imei", opts.identity.imei, "AT+CGSN answer")
      ->capture_default_str()
      ->type_name("DIGITS");
  app.add_option("--ussd-text", opts.ussd_text, "Text of the USSD answer")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--ussd-mode", args.ussd_mode, "USSD answer: ok, status4, ucs2 or none")
      ->check(CLI::IsMember({"ok", "status4", "ucs2", "none"}))
      ->capture_default_str()
      ->type_name("MODE");
  app.add_option("--ussd-delay", opts.ussd_delay_ms, "MS between OK and the USSD answer")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str()
      ->type_name("MS");
  app.add_option("--delay", faults.delay_ms, "Answer every command MS later")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS");
  app.add_option("--chunk", faults.chunk, "Send replies in pieces of N bytes")
      ->check(CLI::PositiveNumber)
      ->type_name("N");
  app.add_option("--chunk-gap", faults.chunk_gap_ms, "MS between two pieces")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str()
      ->type_name("MS");
  app.add_flag("--silent", faults.silent, "Never answer (no echo either)");
  app.add_option("--silent-on", faults.silent_on, "No reply to lines holding CMD (repeatable)")
      ->type_name("CMD")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--error-on", faults.error_on, "Answer ERROR to CMD (repeatable)")
      ->type_name("CMD")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--cms-error-on", args.cms_error_on,
                 "CMD:N answers \"+CMS ERROR: N\" whatever AT+CMEE says (repeatable)")
      ->type_name("CMD:N")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--garbage-before", faults.garbage_before, "Junk bytes before CMD's reply")
      ->type_name("CMD")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--urc-before", faults.urc_before, "An unsolicited line before CMD's reply")
      ->type_name("CMD")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  app.add_option("--urc-text", faults.urc_text, "That unsolicited line")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--hangup-after", args.hangup_after,
                 "Answer N command lines, hang up when the next arrives")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
  CLI11_PARSE(app, argc, argv);

  using tarvex::modemsim::UssdMode;
  opts.ussd_mode = args.ussd_mode == "status4" ? UssdMode::kStatus4
                   : args.ussd_mode == "ucs2"  ? UssdMode::kUcs2
                   : args.ussd_mode == "none"  ? UssdMode::kNone
                                               : UssdMode::kOk;
  for (const std::string& item : args.cms_error_on) {
    size_t colon = item.rfind(':');
    std::optional<int> code = colon == std::string::npos
                                  ? std::nullopt
                                  : tarvex::modemsim::ParseInt(item.substr(colon + 1));
    if (!code || colon == 0) return Fail("--cms-error-on wants CMD:N, got \"" + item + "\"");
    faults.cms_error_on.emplace_back(item.substr(0, colon), *code);
  }
  if (args.hangup_after >= 0) faults.hangup_after = args.hangup_after;
  opts.wall_clock = LocalNow;

  std::vector<tarvex::modemsim::StoredMessage> inbox;
  try {
    if (args.demo) inbox = tarvex::modemsim::DemoInbox();
    if (!args.inbox_file.empty()) {
      std::ifstream in(args.inbox_file, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      for (auto& m : tarvex::modemsim::ParseInbox(text.str())) inbox.push_back(std::move(m));
    }
    for (auto& m : tarvex::modemsim::GenerateInbox(args.generate)) inbox.push_back(std::move(m));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  // Room for a few arrivals besides a large inbox, as a real SIM would have.
  opts.sim_total = std::max(opts.sim_total, static_cast<int>(inbox.size()) + 10);
  Modem modem(opts);
  for (auto& m : inbox) modem.Preload("SM", std::move(m));

  std::FILE* log = nullptr;
  if (!args.log_file.empty()) {
    log = std::fopen(args.log_file.c_str(), "w");
    if (log == nullptr) return Fail(SysError("cannot write " + args.log_file));
  }

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return Fail(SysError("posix_openpt"));
  char name[256];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    return Fail(SysError("pseudo-terminal setup"));
  }
  int slave = open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) return Fail(SysError(std::string("open ") + name));
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  if (!args.link.empty()) {
    unlink(args.link.c_str());  // a stale link from an earlier run
    if (symlink(name, args.link.c_str()) != 0) return Fail(SysError("link " + args.link));
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Signals stay blocked except inside ppoll, so a stop request cannot slip
  // in between the check and the wait.
  sigset_t block, wait_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigprocmask(SIG_BLOCK, &block, &wait_mask);

  std::printf("%s\n", name);
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  auto now_ms = [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  std::string out;
  size_t logged = 0;
  bool hang_up = false;
  while (!g_stop && !hang_up) {
    tarvex::modemsim::PollResult due = modem.Poll(now_ms());
    out += due.bytes;
    hang_up = due.hang_up;
    while (!out.empty()) {
      ssize_t n = write(master, out.data(), out.size());
      if (n <= 0) break;  // the client is not reading: POLLOUT will tell
      out.erase(0, static_cast<size_t>(n));
    }
    if (log != nullptr) {
      for (; logged < modem.sent().size(); ++logged) {
        std::fprintf(log, "%s\n", tarvex::modemsim::SentMessageJson(modem.sent()[logged]).c_str());
      }
      std::fflush(log);
    }
    if (hang_up) break;

    timespec ts{};
    timespec* timeout = nullptr;
    if (std::optional<int64_t> next = modem.NextWake()) {
      int64_t wait = std::max<int64_t>(0, *next - now_ms());
      ts.tv_sec = wait / 1000;
      ts.tv_nsec = (wait % 1000) * 1000000;
      timeout = &ts;
    }
    pollfd pfd{master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    int ready = ppoll(&pfd, 1, timeout, &wait_mask);
    if (ready < 0 && errno != EINTR) return Fail(SysError("poll"));
    if (ready > 0 && (pfd.revents & POLLIN)) {
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) modem.Receive(std::string_view(buf, static_cast<size_t>(n)), now_ms());
    }
  }

  close(master);
  close(slave);
  if (!args.link.empty()) {
    // Only our own link: a later simulator may have taken the name over.
    char target[sizeof name] = {};
    if (readlink(args.link.c_str(), target, sizeof target - 1) > 0 &&
        std::strcmp(target, name) == 0) {
      unlink(args.link.c_str());
    }
  }
  if (log != nullptr) std::fclose(log);
  return 0;
}

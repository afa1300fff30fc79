// tarvex-modemsim: the simulated GSM modem served on a pseudo-terminal.
//
// Thin shell around modemsim::Modem: it reads the options, fills the inbox,
// opens the pseudo-terminal, prints the slave's path on stdout (one line) and
// then moves bytes between the terminal and the core with a poll loop, writing
// each piece of output at the time the core says.  It keeps its own raw-mode
// descriptor of the slave open while the device is "plugged in", so that a
// client closing the port neither hangs up the master nor gets a line
// discipline that echoes.  Control lines come from the --script file (at
// start) and the --control pipe (any time); a "vanish" closes the terminal
// (clients see the device go) and, with back=MS, opens a new one behind the
// same --link.  Ends on SIGTERM/SIGINT (status 0) or after a hang-up for good.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
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

#include "modemsim/control.h"
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
  std::string script_file;
  std::string control_path;
  std::string registration = "home";
  std::string report = "delivered";
  int sim_size = -1;
};

// A pseudo-terminal whose slave stays open in raw mode; fds -1 when closed.
struct Terminal {
  int master = -1;
  int slave = -1;
  std::string name;

  std::string Open() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return SysError("posix_openpt");
    char buf[256];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, buf, sizeof buf) != 0) {
      return SysError("pseudo-terminal setup");
    }
    name = buf;
    slave = open(buf, O_RDWR | O_NOCTTY);
    if (slave < 0) return SysError("open " + name);
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return {};
  }
  void Close() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
  }
};

void Unlink(const std::string& link, const std::string& name) {
  // Only our own link: a later simulator may have taken the name over.
  char target[512] = {};
  if (!link.empty() && readlink(link.c_str(), target, sizeof target - 1) > 0 && name == target) {
    unlink(link.c_str());
  }
}

// Complete lines from the control pipe, each applied at once; a bad line is
// reported on stderr and changes nothing.
void ReadControl(int fd, std::string& pending, Modem& modem, int64_t now) {
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) pending.append(buf, static_cast<size_t>(n));
  size_t end;
  while ((end = pending.find('\n')) != std::string::npos) {
    std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    try {
      if (auto cmd = tarvex::modemsim::ParseControlLine(line)) modem.Control(*cmd, now);
    } catch (const std::exception& e) {
      std::cerr << "tarvex-modemsim: control: " << e.what() << "\n";
    }
  }
}

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
      "Control lines (--script FILE at start, or written to the --control pipe):\n"
      "  deliver from=+31612345678 text=\"See you at 8\" [ucs2] [storage=SM|ME]\n"
      "          [order=3,1,2] [gap=MS] [ref=N]     a message arrives; a long text comes\n"
      "                                             as parts, in that order, MS apart\n"
      "  deliver pdu=HEX [storage=SM|ME]            a PDU (centre field in front) arrives\n"
      "  indicate index=N [storage=SM]              a +CMTI for index N, whatever is there\n"
      "  set KEY=VALUE ...                          signal, registration, indications=on|off,\n"
      "          silent=on|off, full-error=on|off, report, report-delay, sim-size,\n"
      "          phone-size, report-size, sim-busy, unreadable (as the options above)\n"
      "  vanish [back=MS]                           the device goes (and comes back)\n"
      "  Each takes after=MS; in a script it counts from the start.\n\n"
      "Example:\n"
      "  tarvex-modemsim --link /tmp/ttyGSM0 --demo-inbox --loopback +31600000000 \\\n"
      "                  --log sent.jsonl --delay 20 &\n"
      "  picocom /tmp/ttyGSM0     # type AT+CMGL=4\n"
      "  tarvex-modemsim --link /tmp/ttyGSM0 --control /tmp/gsm.ctl --pin 1234 &\n"
      "  echo 'deliver from=+4915112345678 text=\"Hello\"' > /tmp/gsm.ctl");
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
  app.add_flag("--notify", opts.notify, "Announce arrivals with +CMTI whatever AT+CNMI says");
  app.add_option("--script", args.script_file, "Control lines to run, one a line ('#' comments)")
      ->check(CLI::ExistingFile)
      ->type_name("FILE");
  app.add_option("--control", args.control_path,
                 "Make a named pipe at PATH and run the control lines written to it")
      ->type_name("PATH");
  app.add_option("--cnmi-modes", opts.cnmi_modes,
                 "The AT+CNMI=? answer; other values get +CMS ERROR: 303")
      ->capture_default_str()
      ->type_name("MODES");
  app.add_option("--report", args.report,
                 "Status reports for sends with TP-SRR: delivered, pending, failed or TP-ST "
                 "values, one report each (\"pending,delivered\")")
      ->capture_default_str()
      ->type_name("LIST");
  app.add_option("--report-delay", opts.reports.delay_ms, "MS from a send to its report")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str()
      ->type_name("MS");
  app.add_option("--report-storage", opts.reports.storage, "Where reports are kept: SR, SM or ME")
      ->check(CLI::IsMember({"SR", "SM", "ME"}))
      ->capture_default_str()
      ->type_name("MEM");
  app.add_option("--sim-size", args.sim_size, "Places in SM (default 30, or the inbox + 10)")
      ->check(CLI::PositiveNumber)
      ->type_name("N");
  app.add_option("--phone-size", opts.phone_total, "Places in ME")
      ->check(CLI::PositiveNumber)
      ->capture_default_str()
      ->type_name("N");
  app.add_option("--report-size", opts.report_total, "Places in SR")
      ->check(CLI::PositiveNumber)
      ->capture_default_str()
      ->type_name("N");
  app.add_option("--signal", opts.network.rssi, "AT+CSQ <rssi>: 0-31, 99 unknown")
      ->check(CLI::Range(0, 31) | CLI::IsMember({99}))
      ->capture_default_str()
      ->type_name("RSSI");
  app.add_option("--registration", args.registration,
                 "AT+CREG? state: home, roaming, searching, denied, none, unknown")
      ->check(CLI::IsMember({"home", "roaming", "searching", "denied", "none", "unknown"}))
      ->capture_default_str()
      ->type_name("STATE");
  app.add_option("--operator", opts.identity.operator_long, "AT+COPS? operator name")
      ->capture_default_str()
      ->type_name("TEXT");
  app.add_option("--pin", opts.sim.pin, "The SIM starts locked with this PIN (PUK after 3 wrong)")
      ->type_name("PIN");
  app.add_option("--puk", opts.sim.puk, "The PUK (10 wrong block the SIM)")
      ->capture_default_str()
      ->type_name("PUK");
  app.add_option("--sim-busy", opts.sim.busy_commands,
                 "The first N commands needing the SIM (and AT+CPIN?) get \"SIM busy\"")
      ->check(CLI::NonNegativeNumber)
      ->type_name("N");
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
  app.add_flag("--no-indications", faults.no_indications,
               "Store arrivals and reports silently: no +CMTI, +CDSI or +CDS ever");
  app.add_flag("--full-error", faults.full_error,
               "An arrival that finds its storage full sends \"+CMS ERROR: 322\"");
  app.add_option("--unreadable", faults.unreadable,
                 "AT+CMGR=N answers +CMS ERROR: 321 and listing skips N (repeatable)")
      ->type_name("N")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
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
  opts.network.registration = *tarvex::modemsim::ParseRegistration(args.registration);
  if (auto statuses = tarvex::modemsim::ParseStatusList(args.report)) {
    opts.reports.statuses = *statuses;
  } else {
    return Fail("--report wants delivered, pending, failed or TP-ST values, got \"" + args.report +
                "\"");
  }

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
  opts.sim_total = args.sim_size > 0
                       ? args.sim_size
                       : std::max(opts.sim_total, static_cast<int>(inbox.size()) + 10);
  Modem modem(opts);
  for (auto& m : inbox) modem.Preload("SM", std::move(m));
  if (!args.script_file.empty()) {
    std::ifstream in(args.script_file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    try {
      for (const auto& cmd : tarvex::modemsim::ParseControlScript(text.str())) {
        try {
          modem.Control(cmd, 0);
        } catch (const std::exception& e) {
          throw std::runtime_error("script line " + std::to_string(cmd.line) + ": " + e.what());
        }
      }
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
  }
  int control = -1;
  if (!args.control_path.empty()) {
    unlink(args.control_path.c_str());
    if (mkfifo(args.control_path.c_str(), 0600) != 0) {
      return Fail(SysError("mkfifo " + args.control_path));
    }
    // Read and write, so the pipe never reports the end when a writer leaves.
    control = open(args.control_path.c_str(), O_RDWR | O_NONBLOCK);
    if (control < 0) return Fail(SysError("open " + args.control_path));
  }

  std::FILE* log = nullptr;
  if (!args.log_file.empty()) {
    log = std::fopen(args.log_file.c_str(), "w");
    if (log == nullptr) return Fail(SysError("cannot write " + args.log_file));
  }

  Terminal tty;
  if (std::string error = tty.Open(); !error.empty()) return Fail(error);
  if (!args.link.empty()) {
    unlink(args.link.c_str());  // a stale link from an earlier run
    if (symlink(tty.name.c_str(), args.link.c_str()) != 0)
      return Fail(SysError("link " + args.link));
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

  std::printf("%s\n", tty.name.c_str());
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  auto now_ms = [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  };
  std::string out;
  std::string control_pending;
  size_t logged = 0;
  int64_t back_at = -1;  // while the device is gone: when it returns
  while (!g_stop) {
    if (back_at >= 0 && now_ms() >= back_at) {
      back_at = -1;
      if (std::string error = tty.Open(); !error.empty()) return Fail(error);
      modem.Reattach(now_ms());
      if (!args.link.empty()) {
        unlink(args.link.c_str());
        if (symlink(tty.name.c_str(), args.link.c_str()) != 0) {
          return Fail(SysError("link " + args.link));
        }
      }
      std::printf("%s\n", tty.name.c_str());
      std::fflush(stdout);
    }
    if (back_at < 0) {
      tarvex::modemsim::PollResult due = modem.Poll(now_ms());
      out += due.bytes;
      while (!out.empty()) {
        ssize_t n = write(tty.master, out.data(), out.size());
        if (n <= 0) break;  // the client is not reading: POLLOUT will tell
        out.erase(0, static_cast<size_t>(n));
      }
      if (due.hang_up) {
        // Unplugged: the terminal goes, and with it the link.
        out.clear();
        Unlink(args.link, tty.name);
        tty.Close();
        if (due.reopen_after_ms < 0) break;
        back_at = now_ms() + due.reopen_after_ms;
      }
    }
    if (log != nullptr) {
      for (; logged < modem.sent().size(); ++logged) {
        std::fprintf(log, "%s\n", tarvex::modemsim::SentMessageJson(modem.sent()[logged]).c_str());
      }
      std::fflush(log);
    }

    timespec ts{};
    timespec* timeout = nullptr;
    std::optional<int64_t> next = back_at >= 0 ? std::optional<int64_t>(back_at) : modem.NextWake();
    if (next) {
      int64_t wait = std::max<int64_t>(0, *next - now_ms());
      ts.tv_sec = wait / 1000;
      ts.tv_nsec = (wait % 1000) * 1000000;
      timeout = &ts;
    }
    pollfd pfds[2] = {{tty.master, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0},
                      {control, POLLIN, 0}};
    int ready = ppoll(pfds, 2, timeout, &wait_mask);
    if (ready < 0 && errno != EINTR) return Fail(SysError("poll"));
    if (ready > 0 && tty.master >= 0 && (pfds[0].revents & POLLIN)) {
      char buf[4096];
      ssize_t n = read(tty.master, buf, sizeof buf);
      if (n > 0) modem.Receive(std::string_view(buf, static_cast<size_t>(n)), now_ms());
    }
    if (ready > 0 && control >= 0 && (pfds[1].revents & POLLIN)) {
      ReadControl(control, control_pending, modem, now_ms());
    }
  }

  Unlink(args.link, tty.name);
  tty.Close();
  if (control >= 0) {
    close(control);
    unlink(args.control_path.c_str());
  }
  if (log != nullptr) std::fclose(log);
  return 0;
}

#include "watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "commands.h"
#include "common/text.h"
#include "engine/modem_errors.h"
#include "engine/text_decode.h"
#include "entry_json.h"
#include "modem_session.h"
#include "platform/forwarding_port.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/socket_port.h"
#include "platform/posix/sqlite_receive_store.h"
#include "platform/tracing_port.h"
#include "receive/receiver.h"
#include "tarvex/engine.h"
#include "tarvex/error.h"
#include "tarvex/reply.h"

extern char** environ;

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

// Longest pause between two attempts to reopen a modem or rerun a command.
constexpr int64_t kMaxBackoffMs = 60000;
constexpr int64_t kMaxExecBackoffS = 300;
// Relayed bytes looked at for notices after a client is done.
constexpr size_t kMaxTee = 1 << 16;

std::atomic<int> g_signal{0};
std::atomic<int> g_status{kExitOk};
int g_wake[2] = {-1, -1};

void Wake() {
  const char byte = 1;
  (void)!write(g_wake[1], &byte, 1);
}

void OnStop(int signal) {
  if (g_signal.exchange(signal) != 0) _exit(kExitInterrupted);  // asked twice: leave now
  Wake();
}

bool Stopping() { return g_signal.load() != 0; }

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// stdout, shared by the slot threads: a line is written whole and flushed
// before anything it reports may be deleted.
std::mutex g_out;

bool PrintOut(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_out);
  std::cout << text << std::flush;
  return static_cast<bool>(std::cout);
}

void PrintErr(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out);
  std::cerr << "tarvex: " << line << "\n" << std::flush;
}

// The slot's termios port, which in the idle wait also wakes for a stop
// request or a client of the socket, and can print the dialogue.
class WatchPort : public ForwardingPort {
 public:
  WatchPort(RegistryBackend& registry, int16_t slot, bool trace)
      : ForwardingPort(std::make_unique<posix::TermiosPort>(registry)),
        slot_(slot),
        trace_(trace) {}

  posix::TermiosPort& device() { return static_cast<posix::TermiosPort&>(inner()); }
  // While set, WaitForInput also returns (false) when one of `fds` is readable.
  void SetIdle(std::vector<int> fds) { idle_fds_ = std::move(fds); }

  void Output(std::string_view data) override {
    if (trace_) Trace(">> ", data);
    ForwardingPort::Output(data);
  }
  std::string Input() override {
    std::string data = ForwardingPort::Input();
    if (trace_ && !data.empty()) Trace("<< ", data);
    return data;
  }
  bool WaitForInput(uint32_t timeout_ms) override {
    posix::TermiosPort& port = device();
    if (idle_fds_.empty() || port.fd() < 0) return port.WaitForInput(timeout_ms);
    std::vector<pollfd> fds{{port.fd(), POLLIN, 0}};
    for (const int fd : idle_fds_) fds.push_back({fd, POLLIN, 0});
    const int ready = poll(fds.data(), fds.size(), static_cast<int>(timeout_ms));
    return ready > 0 && fds[0].revents != 0;
  }

 private:
  void Trace(const char* direction, std::string_view data) {
    std::lock_guard<std::mutex> lock(g_out);
    std::cerr << "[slot " << slot_ << "] " << direction << Printable(data) << "\n";
  }

  int16_t slot_;
  bool trace_;
  std::vector<int> idle_fds_;
};

// The modem stopped answering or its device went away: close, reopen.
struct ModemGone {
  std::string why;
};
// The SIM answered "busy": wait and start again.
struct SimBusy {};

bool IsSimBusy(const FinalCode& code) {
  return (code.kind == FinalCode::kCmsError && (code.number == 314 || code.number == 515)) ||
         (code.kind == FinalCode::kCmeError && (code.number == 14 || code.number == 515));
}

std::string ReadableTime(const MessageTimeValue& t) {
  std::string text = FormatMessageTime(t);
  text[10] = ' ';
  return text + " " + FormatTimeZone(t.zone_quarters);
}

std::string Numbers(const std::vector<int>& numbers) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) text += (i ? ", " : "") + std::to_string(numbers[i]);
  return text;
}

// The object `tarvex list --join --json` prints for the message, plus where it was.
Json MessageJson(const ReceivedMessage& m) {
  Json j = EntryJson(m.first);
  if (m.concatenated) {
    j["MessageText"] = Utf16ToUtf8(m.text);
    j["MultiPartSMSCount"] = m.count;
    j["MultiPartSMSNumber"] = 0;
    j["MessageIDs"] = m.message_ids;
  }
  j["Parts"] = m.parts;
  j["MissingParts"] = m.missing;
  j["Storage"] = m.storage;
  j["Slot"] = m.slot;
  return j;
}

std::string MessageText(const ReceivedMessage& m) {
  std::ostringstream out;
  out << "Message on slot " << m.slot << " (" << m.storage << ") from " << m.first.PhoneNumber()
      << ", " << ReadableTime(m.first.MessageTime());
  if (m.concatenated && m.complete()) out << " (" << m.count << " parts)";
  if (!m.complete()) {
    out << " (incomplete: parts " << Numbers(m.parts) << " of " << m.count << "; missing "
        << Numbers(m.missing) << ")";
  }
  out << "\n";
  std::istringstream lines(Utf16ToUtf8(m.text));
  bool any = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << "  " << line << "\n";
    any = true;
  }
  if (!any) out << "  (no text)\n";
  out << "\n";
  return out.str();
}

// CMD through /bin/sh with `json` on stdin and `vars` added to the
// environment; its exit status, or -1 when it could not run.
int RunExec(const std::string& command, const std::string& json,
            const std::vector<std::pair<std::string, std::string>>& vars) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (std::none_of(vars.begin(), vars.end(), [&](const auto& v) { return v.first == name; })) {
      env.push_back(entry);
    }
  }
  for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);  // ignored here, not in the command
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int rc =
      posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(argv), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  if (rc != 0) {
    close(in[1]);
    return -1;
  }
  // A command that does not read its input may exit before it is written.
  std::string_view rest = json;
  while (!rest.empty()) {
    const ssize_t n = write(in[1], rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    rest.remove_prefix(static_cast<size_t>(n));
  }
  close(in[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// ---------------------------------------------------------------------------

class SlotWatcher {
 public:
  SlotWatcher(int16_t slot, const WatchOptions& options, int listen_fd)
      : slot_(slot),
        options_(options),
        listen_fd_(listen_fd),
        registry_(posix::SqliteRegistry::OpenDefault()),
        store_(posix::SqliteReceiveStore::DefaultPath()),
        receiver_(store_, options.part_timeout) {
    Tarvex::Ports ports;
    auto port = std::make_unique<WatchPort>(*registry_, slot, options.trace);
    port_ = port.get();
    ports[static_cast<size_t>(slot)] = std::move(port);
    engine_ = std::make_unique<Tarvex>(std::move(ports), clock_, *registry_);
    engine_->SetExtendedErrors(true);
    // A modem that stays silent this long is taken for gone.
    engine_->SetCommandTimeout(10000);
  }

  void Run() {
    int64_t backoff_ms = 1000;
    bool reported = false;
    while (!Stopping()) {
      try {
        if (!open_) {
          if (!engine_->DeviceOpen(slot_)) {
            throw ModemGone{"could not open or initialise " + Where()};
          }
          open_ = true;
          if (reported) Event("ModemBack", "the modem on " + Where() + " is back");
          reported = false;
          Initialise();
          ReadAll();
        }
        Cycle();
        backoff_ms = 1000;
      } catch (const SimBusy&) {
        if (!reported) Event("SimBusy", "the SIM is busy; waiting");
        reported = true;
        open_ = open_ && port_->PortOpen();
        initialised_ = false;
        Pause(2000);
      } catch (const ModemGone& gone) {
        Lost(gone.why, reported, backoff_ms);
      } catch (const Error& e) {
        if (e.number() == kReceiveStateError) {
          PrintErr(std::string(e.what()) + "; stopping");
          g_status = kExitError;
          g_signal = SIGTERM;
          Wake();
          break;
        }
        Lost(std::string(e.what()) + " (error " + std::to_string(e.number()) + ")", reported,
             backoff_ms);
      }
    }
    engine_->DeviceClose(slot_);
  }

 private:
  std::string Where() {
    const int16_t port = port_->CommPort();
    return "slot " + std::to_string(slot_) + " (" +
           posix::TermiosPort::ResolveDevice(*registry_, port) + ")";
  }

  void Lost(const std::string& why, bool& reported, int64_t& backoff_ms) {
    if (!reported) {
      Event("ModemGone",
            "slot " + std::to_string(slot_) + ": " + why + "; trying again (every " + "1 to 60 s)");
    }
    reported = true;
    try {
      port_->SetPortOpen(false);
    } catch (...) {
    }
    open_ = false;
    initialised_ = false;
    Pause(backoff_ms);
    backoff_ms = std::min(backoff_ms * 2, kMaxBackoffMs);
  }

  // A line on stderr, and with --json the same as an event object on stdout.
  void Event(const char* name, const std::string& text) {
    PrintErr(text);
    if (options_.json) {
      PrintOut(JsonLine(Json{{"Event", name}, {"Slot", slot_}, {"Text", text}}) + "\n");
    }
  }

  void WarnOnce(const std::string& key, const std::string& text) {
    if (warned_.insert(key).second) PrintErr("slot " + std::to_string(slot_) + ": " + text);
  }

  // Sleeps up to ms, woken by a stop; a client meanwhile is turned away.
  void Pause(int64_t ms) {
    pollfd fds[2] = {{g_wake[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    const auto until = clock_.TickCount() + static_cast<uint32_t>(ms);
    while (!Stopping()) {
      const int32_t left = static_cast<int32_t>(until - clock_.TickCount());
      if (left <= 0) return;
      if (poll(fds, listen_fd_ >= 0 ? 2 : 1, left) > 0 && (fds[1].revents & POLLIN)) {
        const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) close(client);  // no modem to lend
      }
    }
  }

  Answer Check(Answer a, const char* what) {
    if (a.outcome == Answer::kNoAnswer) throw ModemGone{std::string("no answer to ") + what};
    if (a.outcome == Answer::kRefused && IsSimBusy(a.error)) throw SimBusy{};
    return a;
  }

  void Initialise() {
    const Answer cnmi = Check(engine_->EnableIndications(slot_), "AT+CNMI");
    if (storages_.empty()) {
      if (!options_.storages.empty()) {
        storages_ = options_.storages;
      } else {
        const Answer offered = Check(engine_->ReadableStorages(slot_), "AT+CPMS=?");
        std::vector<std::string> names;
        std::istringstream list(offered.done() ? offered.value : "");
        for (std::string n; std::getline(list, n, ',');) names.push_back(n);
        // MT is SM and ME under other numbers: reading both would list a
        // message twice.  Cell broadcasts (BM) are no messages to us.
        const bool separate = std::count(names.begin(), names.end(), "SM") ||
                              std::count(names.begin(), names.end(), "ME");
        for (const std::string& n : names) {
          if (n == "SM" || n == "ME" || n == "SR" || (n == "MT" && !separate)) {
            storages_.push_back(n);
          }
        }
        if (storages_.empty()) storages_ = {"SM"};
      }
      std::string names;
      for (const std::string& s : storages_) names += (names.empty() ? "" : ", ") + s;
      PrintErr("watching slot " + std::to_string(slot_) + " (" + names + "), reading every " +
               std::to_string(options_.poll_seconds) + " s" +
               (cnmi.done() ? ", notices on (AT+CNMI=" + cnmi.value + ")"
                            : ", without notices (the modem took no AT+CNMI mode)"));
    }
    initialised_ = true;
  }

  void ReadAll() {
    next_poll_ = Now() + options_.poll_seconds;
    for (const std::string& storage : storages_) {
      const Listing listing = engine_->ListStorage(slot_, storage);
      Check(listing, "AT+CMGL");
      if (!listing.done()) {
        WarnOnce("list " + storage,
                 "the modem refused listing " + storage + ": " + DescribeModemError(listing.error));
        continue;
      }
      std::vector<int32_t> present;
      for (const std::string& entry : listing.entries) {
        const size_t crlf = entry.find("\r\n");
        const int32_t index = std::stoi(entry.substr(0, crlf));
        present.push_back(index);
        Entry(storage, index, crlf == std::string::npos ? "" : entry.substr(crlf + 2));
      }
      receiver_.ListingDone(slot_, storage, present);
    }
  }

  void Entry(const std::string& storage, int32_t index, const std::string& pdu) {
    const EntryPlace place{slot_, storage, index};
    const Observation seen = receiver_.Observe(slot_, storage, index, pdu, Now());
    switch (seen.fate) {
      case EntryFate::kStored:
      case EntryFate::kOutgoing:
        break;
      case EntryFate::kHandedOver:
        Delete(place);
        break;
      case EntryFate::kUndecodable:
        WarnOnce("decode " + storage + std::to_string(index) + pdu,
                 storage + " " + std::to_string(index) + " does not decode (" + seen.error +
                     "); left on the modem");
        break;
      case EntryFate::kStatusReport:
        Report(place, pdu);
        break;
    }
  }

  void Delete(const EntryPlace& place) {
    if (options_.keep || place.index < 0) return;
    const Answer deleted =
        Check(engine_->DeleteStoredIn(slot_, place.storage, place.index), "AT+CMGD");
    if (deleted.done()) {
      receiver_.Deleted(place);
    } else {
      WarnOnce("delete " + place.storage + std::to_string(place.index),
               "could not delete " + place.storage + " " + std::to_string(place.index) + ": " +
                   DescribeModemError(deleted.error));
    }
  }

  // Out through stdout or the command; true when it took it.
  bool Hand(const Json& json, std::vector<std::pair<std::string, std::string>> vars,
            const std::string& text) {
    if (options_.exec.empty()) {
      const bool written = PrintOut(options_.json ? JsonLine(json) + "\n" : text);
      if (!written) {
        PrintErr("stdout could not be written; nothing deleted, stopping");
        g_status = kExitError;
        g_signal = SIGTERM;
        Wake();
      }
      return written;
    }
    vars.emplace_back("TARVEX_SLOT", std::to_string(slot_));
    const int status = RunExec(options_.exec, JsonLine(json) + "\n", vars);
    if (status != 0) {
      PrintErr("slot " + std::to_string(slot_) + ": --exec command " +
               (status < 0 ? "could not run" : "exited " + std::to_string(status)) +
               "; the message stays on the modem and is offered again");
    }
    return status == 0;
  }

  void HandOverReady() {
    const int64_t now = Now();
    for (const ReceivedMessage& m : receiver_.Ready(slot_, now)) {
      if (Stopping()) return;
      const int64_t key = m.records.empty() ? 0 : m.records.front().id;
      auto retry = retries_.find(key);
      if (retry != retries_.end() && retry->second.next_at > now) continue;
      const Json json = MessageJson(m);
      const bool taken =
          Hand(json,
               {{"TARVEX_EVENT", "message"},
                {"TARVEX_SENDER", m.first.PhoneNumber()},
                {"TARVEX_TEXT", Utf16ToUtf8(m.text)},
                {"TARVEX_TIME", FormatMessageTime(m.first.MessageTime()) +
                                    FormatTimeZone(m.first.MessageTime().zone_quarters)},
                {"TARVEX_STORAGE", m.storage}},
               MessageText(m));
      if (!taken) {
        if (Stopping()) return;
        Retry& r = retries_[key];
        r.delay_s = std::min<int64_t>(r.delay_s == 0 ? 5 : r.delay_s * 2, kMaxExecBackoffS);
        r.next_at = now + r.delay_s;
        continue;
      }
      retries_.erase(key);
      for (const EntryPlace& place : receiver_.Handed(m, Now())) Delete(place);
    }
  }

  void Report(const EntryPlace& place, const std::string& pdu) {
    std::string error;
    const std::optional<DecodedReport> report = DecodeReport(pdu, error);
    if (!report) {
      WarnOnce("report " + place.storage + std::to_string(place.index) + pdu,
               "a status report at " + place.storage + " " + std::to_string(place.index) +
                   " does not decode (" + error + "); left on the modem");
      return;
    }
    const ReportMatch match = receiver_.MatchReport(place, pdu, report->fields);
    if (match.handed_over) {
      Delete(place);
      return;
    }
    Json json = report->json;
    json["Matched"] = match.send.has_value();
    if (match.send) json["Part"] = match.send->part;
    json["Storage"] = place.storage;
    json["Slot"] = slot_;
    const std::string text = "Status report on slot " + std::to_string(slot_) + ": message " +
                             std::to_string(report->fields.message_reference) + " to " +
                             report->fields.recipient + " " + json["Outcome"].get<std::string>() +
                             " (" + json["Reason"].get<std::string>() + ")\n\n";
    if (!Hand(json,
              {{"TARVEX_EVENT", "report"},
               {"TARVEX_SENDER", report->fields.recipient},
               {"TARVEX_TEXT", json["Outcome"].get<std::string>()},
               {"TARVEX_TIME", FormatMessageTime(report->fields.discharge_time) +
                                   FormatTimeZone(report->fields.discharge_time.zone_quarters)},
               {"TARVEX_STORAGE", place.storage}},
              text)) {
      return;  // still on the modem: offered again at the next reading
    }
    if (const auto gone = receiver_.ReportHanded(place, pdu, match, Now())) Delete(*gone);
  }

  // The notices the engine filed and those a client's relay carried.
  void ReadNotices() {
    std::vector<std::string> notices = std::move(relayed_);
    relayed_.clear();
    for (Indication& i : engine_->TakeIndications()) notices.push_back(std::move(i.text));
    for (const std::string& notice : notices) {
      const std::string line = notice.substr(0, notice.find('\r'));
      if (line.starts_with("+CMTI:") || line.starts_with("+CDSI:")) {
        // +CMTI: "SM",3
        const std::string rest = line.substr(6);
        const size_t comma = rest.rfind(',');
        if (comma == std::string::npos) continue;
        std::string storage = std::string(text::TrimBlanks(rest.substr(0, comma)));
        storage.erase(std::remove(storage.begin(), storage.end(), '"'), storage.end());
        int32_t index = 0;
        try {
          index = std::stoi(rest.substr(comma + 1));
        } catch (const std::exception&) {
          continue;
        }
        if (std::find(storages_.begin(), storages_.end(), storage) == storages_.end()) continue;
        ReadIndex(storage, index);
      } else if (line.starts_with("+CDS:")) {
        const size_t crlf = notice.find("\r\n");
        if (crlf != std::string::npos) Report({slot_, "", -1}, notice.substr(crlf + 2));
      } else if (line.starts_with("+CMT:")) {
        WarnOnce("cmt",
                 "the modem delivered a message directly (+CMT) instead of storing it; "
                 "another program may have changed AT+CNMI");
      }
    }
  }

  void ReadIndex(const std::string& storage, int32_t index) {
    const Answer read = Check(engine_->ReadStored(slot_, storage, index), "AT+CMGR");
    if (read.done()) {
      if (!read.value.empty()) Entry(storage, index, read.value);
      return;
    }
    WarnOnce("read " + storage + std::to_string(index),
             storage + " " + std::to_string(index) + " was announced but cannot be read (" +
                 DescribeModemError(read.error) + "); skipped");
  }

  // One turn: notices, handovers, then wait for the next thing to do.
  void Cycle() {
    if (!initialised_) {
      Initialise();
      ReadAll();
    }
    ReadNotices();
    HandOverReady();
    if (Stopping()) return;
    int64_t now = Now();
    if (now >= next_poll_) {
      ReadAll();
      return;
    }
    int64_t next = next_poll_;
    if (const auto timeout = receiver_.NextTimeout(slot_)) next = std::min(next, *timeout);
    for (const auto& [key, r] : retries_) next = std::min(next, r.next_at);
    const int64_t wait_s = std::max<int64_t>(next - now, 0);
    port_->SetIdle({g_wake[0], listen_fd_});
    bool notice = false;
    try {
      notice = engine_->WaitForIndication(slot_, static_cast<uint32_t>(wait_s * 1000));
    } catch (...) {
      port_->SetIdle({});
      throw;
    }
    port_->SetIdle({});
    if (notice || Stopping()) return;
    pollfd client{listen_fd_, POLLIN, 0};
    if (listen_fd_ >= 0 && poll(&client, 1, 0) > 0) Relay();
  }

  // Lends the port to a client of the socket until it closes.
  void Relay() {
    const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    struct Closer {
      int fd;
      ~Closer() { close(fd); }
    } closer{client};
    const char grant = posix::SocketPort::kGrant;
    if (send(client, &grant, 1, MSG_NOSIGNAL) != 1) return;
    std::string tee;
    const int device = port_->device().fd();
    for (;;) {
      pollfd fds[3] = {{client, POLLIN, 0}, {device, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
      if (poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents != 0) {
        const std::string bytes = port_->Input();  // raises when the device went away
        if (tee.size() < kMaxTee) tee += bytes;
        if (!bytes.empty() && send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) break;
      }
      if (fds[0].revents != 0) {
        char buffer[4096];
        const ssize_t n = read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        port_->Output(std::string_view(buffer, static_cast<size_t>(n)));
      }
      // A stop waits for the client: its command is someone's handover too.
      if (fds[2].revents != 0 && fds[0].revents == 0 && fds[1].revents == 0) {
        pollfd only[2] = {{client, POLLIN, 0}, {device, POLLIN, 0}};
        poll(only, 2, 1000);
      }
    }
    // The client may have taken notices meant for us, and changed settings.
    std::vector<Unsolicited> kept;
    RemoveUnsolicited(tee, "", &kept);
    for (Unsolicited& u : kept) relayed_.push_back(std::move(u.text));
    initialised_ = false;
  }

  struct Retry {
    int64_t delay_s = 0;
    int64_t next_at = 0;
  };

  int16_t slot_;
  const WatchOptions& options_;
  int listen_fd_;
  std::unique_ptr<posix::SqliteRegistry> registry_;
  posix::SteadyClock clock_;
  WatchPort* port_ = nullptr;
  std::unique_ptr<Tarvex> engine_;
  posix::SqliteReceiveStore store_;
  Receiver receiver_;
  bool open_ = false;
  bool initialised_ = false;
  std::vector<std::string> storages_;
  int64_t next_poll_ = 0;
  std::set<std::string> warned_;
  std::map<int64_t, Retry> retries_;
  std::vector<std::string> relayed_;
};

// The slot's socket, 0600 in the 0700 state folder; -1 (with a warning) when
// it cannot be made, and the watcher then runs without lending its port.
int Listen(int16_t slot) {
  const std::string path = posix::SocketPort::WatcherPath(slot);
  const std::string folder = path.substr(0, path.rfind('/'));
  mkdir(folder.c_str(), 0700);
  // Another watcher of the slot answers on it: two would fight for the port.
  if (auto other = posix::SocketPort::ConnectWatcher(slot)) {
    throw CommandFailure(kExitNoModem,
                         "slot " + std::to_string(slot) + " is already watched (" + path + ")");
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    PrintErr("the socket path " + path + " is too long; other commands cannot use slot " +
             std::to_string(slot) + " while it is watched");
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  unlink(path.c_str());  // left by a watcher that died
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const mode_t before = umask(0177);
  const bool bound =
      fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  umask(before);
  if (!bound || listen(fd, 8) != 0) {
    PrintErr("cannot listen on " + path + ": " + std::strerror(errno) +
             "; other commands cannot use slot " + std::to_string(slot) + " while it is watched");
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int RunWatch(const WatchOptions& options) {
  if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw CommandFailure(kExitError, std::string("pipe: ") + std::strerror(errno));
  }
  std::vector<int> sockets;
  std::vector<std::unique_ptr<SlotWatcher>> watchers;
  for (const int slot : options.slots) {
    const int16_t s = static_cast<int16_t>(slot);
    // Opened here, so a store that cannot be opened stops the start.
    sockets.push_back(Listen(s));
    watchers.push_back(std::make_unique<SlotWatcher>(s, options, sockets.back()));
  }
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::thread> threads;
  for (auto& w : watchers) threads.emplace_back([&w] { w->Run(); });
  for (std::thread& t : threads) t.join();

  for (size_t i = 0; i < sockets.size(); ++i) {
    if (sockets[i] < 0) continue;
    close(sockets[i]);
    unlink(posix::SocketPort::WatcherPath(static_cast<int16_t>(options.slots[i])).c_str());
  }
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  if (g_status != kExitOk) return g_status;
  return g_signal == SIGINT ? kExitInterrupted : kExitOk;
}

void DefineWatch(CLI::App& watch, int& status) {
  auto options = std::make_shared<WatchOptions>();
  auto storages = std::make_shared<std::string>();
  watch.add_option("-m,--modem", options->slots, "Modem slot to watch (repeatable: -m 1 -m 2)")
      ->required()
      ->check(CLI::Range(0, 4));
  watch.add_option("--poll", options->poll_seconds, "Read the storages every SECONDS as well")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str()
      ->type_name("SECONDS");
  watch
      .add_option("--storage", *storages,
                  "Storages to read, e.g. SM,ME (default: every one the modem offers)")
      ->type_name("LIST");
  watch
      .add_option("--part-timeout", options->part_timeout,
                  "Hand a long message over incomplete when parts are missing this long")
      ->check(CLI::Range(int64_t{1}, int64_t{30} * 86400))
      ->capture_default_str()
      ->type_name("SECONDS");
  watch.add_flag("--json", options->json,
                 "One JSON object a line (the keys of 'list --join --json' plus Storage, Slot)");
  watch
      .add_option("--exec", options->exec,
                  "Run CMD (/bin/sh -c) for each message: JSON on stdin, TARVEX_EVENT, "
                  "TARVEX_SENDER, TARVEX_TEXT, TARVEX_TIME, TARVEX_SLOT, TARVEX_STORAGE in "
                  "its environment; deleted only when it exits 0, else retried")
      ->type_name("CMD");
  watch.add_flag("--keep", options->keep, "Never delete from the modem");
  AddTraceOption(&watch, options->trace);
  watch.footer(
      "Runs until Ctrl-C (exit 130) or SIGTERM (exit 0).  While it runs, other commands\n"
      "on the slot (list, send, ussd...) go through it.  State: receive.db in the state\n"
      "folder ($TARVEX_STATE_DIR, else ~/.local/state/tarvex).\n"
      "Examples: tarvex watch -m 1 --json\n"
      "          tarvex watch -m 1 --exec 'cat >> ~/sms.jsonl'");
  watch.callback([options, storages, &status] {
    std::istringstream list(*storages);
    for (std::string s; std::getline(list, s, ',');) {
      if (!s.empty()) options->storages.push_back(s);
    }
    for (const std::string& s : options->storages) {
      if (s.size() > 4 || !std::all_of(s.begin(), s.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c));
          })) {
        std::cerr << "tarvex: --storage: \"" << s << "\" is no storage name (SM, ME, SR, MT...)\n";
        status = kExitUsage;
        return;
      }
    }
    status = RunModemCommand([&] { return RunWatch(*options); });
  });
}

}  // namespace tarvex::cli

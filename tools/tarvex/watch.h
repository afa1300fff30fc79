// `tarvex watch`: the tool's receiver.  One thread per watched slot, each
// with its own engine, port, receiver database connection and socket, reads
// what the modem stores (at start, on every +CMTI / +CDSI notice and every
// --poll seconds), hands every whole message over exactly once (a line on
// stdout, a JSON object with --json, or a command with --exec) and only then
// deletes it from the modem.  The Receiver (src/receive) decides what is whole
// and what may be deleted; this file drives the modem and the handover.
//
// The port stays the watcher's: other commands of the tool on a watched slot
// come in through the slot's socket (platform/posix/socket_port.h) and get the
// port relayed to them between the watcher's own reads.
//
// Threads: the slot threads share stdout behind one mutex; the signal handler
// only records the signal and wakes every thread through a pipe.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "receive/receiver.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::cli {

struct WatchOptions {
  std::vector<int> slots;
  int poll_seconds = 30;
  std::vector<std::string> storages;  // empty: every storage the modem offers for reading
  int64_t part_timeout = 3600;
  bool json = false;
  std::string exec;  // empty: hand over on stdout
  bool keep = false;
  bool trace = false;
};

// Runs until SIGINT (130) or SIGTERM (0); 5 when the receiver's database fails.
int RunWatch(const WatchOptions& options);

// A status report as the watcher matches it and hands it over (watch_report.cpp).
struct DecodedReport {
  ReportToMatch fields;
  nlohmann::ordered_json json;  // "MessageType": "SMS-STATUS-REPORT" and the fields
};
// nullopt with `error` set when the PDU is no readable status report.
std::optional<DecodedReport> DecodeReport(const std::string& pdu, std::string& error);

}  // namespace tarvex::cli

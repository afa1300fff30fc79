// Messages the simulated modem starts with: read from a file of PDUs, made up
// in bulk for load tests, or the fixed demo set.
//
// Pure functions (no files: the caller reads the file); the PDUs come from the
// codec's BuildDeliverPdu, so every one is a real SMS-DELIVER with its
// service-centre field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "modemsim/message_store.h"

namespace tarvex::modemsim {

// One PDU per line, optionally "stat," in front (0..3, default 0 unread);
// blank lines and lines starting with '#' are skipped, blanks around a line
// ignored.  Throws std::runtime_error naming the line when a PDU is not hex,
// not whole octets, or too short for its service-centre field.
std::vector<StoredMessage> ParseInbox(std::string_view text);

// `count` unread 7-bit messages from a handful of senders, texts and times
// varying from one to the next; the same count gives the same messages.
std::vector<StoredMessage> GenerateInbox(int count);

// Unread: a 7-bit message, a UCS2 message, and a concatenated message of three
// 7-bit parts (reference 42), in that order.
std::vector<StoredMessage> DemoInbox();

}  // namespace tarvex::modemsim

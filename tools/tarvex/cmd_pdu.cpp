// `tarvex pdu encode` and `tarvex pdu decode`: the codec on its own, without a
// modem.  Text is UTF-8 on the command line and on output; UTF-16 inside.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec/mdl_converter.h"
#include "codec/message_entry.h"
#include "codec/split.h"
#include "commands.h"
#include "common/text.h"
#include "entry_json.h"
#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

namespace tarvex::cli {
namespace {

struct EncodeOptions {
  std::string number;
  std::string text;
  std::string ref;
  int total = 0;
  int part = 0;
  bool long_message = false;
  std::string national = "off";
};

struct DecodeOptions {
  std::vector<std::string> entries;
  std::optional<int> index;
  bool json = false;
};

std::string RandomReference() {
  std::random_device seed;
  std::mt19937 engine(seed());
  return mdlConverter::ByteToHex(std::uniform_int_distribution<int>(0, 255)(engine));
}

int RunEncode(const EncodeOptions& o) {
  SMSSubmit submit;
  submit.PhoneNumber = o.number;
  const std::u16string text = Utf8ToUtf16(o.text);
  const gsm7::NationalChoice choice = gsm7::ParseNationalChoice(o.national);
  const bool national = choice.mode != gsm7::NationalChoice::kOff;
  MessagePlan plan;
  if (national || o.long_message) plan = PlanMessage(text, choice);
  submit.Tables = plan.tables;
  if (!o.ref.empty()) {
    submit.MessageText = text;
    std::cout << submit.EncodeLongSMS(o.ref, o.total, o.part).hex << '\n';
    return kExitOk;
  }
  if (!o.long_message) {
    submit.MessageText = text;
    try {
      std::cout << submit.Encode().hex << '\n';
    } catch (const Error& e) {
      if (national ? plan.parts.size() == 1 : FitsSingle(text)) throw;
      throw Error(e.number(), std::string(e.what()) + "; --long splits it into parts");
    }
    return kExitOk;
  }
  const std::vector<std::u16string>& parts = plan.parts;
  if (parts.size() == 1) {
    submit.MessageText = parts[0];
    std::cout << submit.Encode().hex << '\n';
    return kExitOk;
  }
  // Build every part before printing any, so a bad number prints nothing.
  const std::string ref = RandomReference();
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    submit.MessageText = parts[i];
    out +=
        submit.EncodeLongSMS(ref, static_cast<int32_t>(parts.size()), static_cast<int32_t>(i + 1))
            .hex;
    out += '\n';
  }
  std::cout << out;
  return kExitOk;
}

std::string Trimmed(const std::string& s) {
  const size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// One entry to decode, or a line that could not be made into one.
struct Entry {
  std::string text;
  std::string problem;
};

// A command-line argument: an entry with CR LF (or LF alone, as a shell makes
// it easiest to type), or a bare PDU that --index numbers.
Entry FromArgument(const std::string& arg, const std::optional<int>& index) {
  const size_t lf = arg.find('\n');
  if (lf == std::string::npos) {
    return {index ? MakeEntry(*index, Trimmed(arg)) : MakeEntry("", Trimmed(arg)), ""};
  }
  if (lf > 0 && arg[lf - 1] == '\r') return {arg, ""};
  return {MakeEntry(std::string_view(arg).substr(0, lf), std::string_view(arg).substr(lf + 1)), ""};
}

// Standard input, one entry per line: a PDU line, optionally after a line
// holding its index alone or the modem's "+CMGL: INDEX,..." line (so a
// listing can be pasted as it came); blank lines and "OK" are skipped.
std::vector<Entry> FromStdin() {
  std::vector<Entry> entries;
  std::optional<std::string> index;
  std::string line;
  while (std::getline(std::cin, line)) {
    line = Trimmed(line);
    if (line.empty() || line == "OK") continue;
    if (AllDigits(line)) {
      if (index) entries.push_back({"", "index " + *index + " without a PDU line"});
      index = line;
      continue;
    }
    if (line.rfind("+CMGL:", 0) == 0) {
      if (index) entries.push_back({"", "index " + *index + " without a PDU line"});
      const std::string rest = Trimmed(line.substr(6));
      index = rest.substr(0, rest.find(','));
      continue;
    }
    entries.push_back({MakeEntry(index.value_or(""), line), ""});
    index.reset();
  }
  if (index) entries.push_back({"", "index " + *index + " without a PDU line"});
  return entries;
}

std::string TimeText(const MessageTimeValue& t) {
  std::string text = FormatMessageTime(t);
  text[10] = ' ';
  return text;
}

std::string Hex2(int v) { return mdlConverter::ByteToHex(v & 0xFF); }

void PrintBlock(const SMSDeliver& d) {
  std::string text = Utf16ToUtf8(d.MessageText());
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    text.insert(at + 1, 22, ' ');  // continuation lines under the first
  }
  const auto& t = d.MessageTime();
  std::cout << "  MessageID           " << d.MessageID() << '\n'
            << "  PhoneNumber         " << d.PhoneNumber() << "  (type " << Hex2(d.SenderType())
            << ")\n"
            << "  MessageTime         " << TimeText(t) << "  (zone "
            << FormatTimeZone(t.zone_quarters) << ")\n"
            << "  MessageText         " << text << '\n'
            << "  MultiPartSMS        " << (d.MultiPartSMS() ? "True" : "False") << '\n'
            << "  MultiPartSMSRef     " << d.MultiPartSMSRef() << '\n'
            << "  MultiPartSMSCount   " << d.MultiPartSMSCount() << '\n'
            << "  MultiPartSMSNumber  " << d.MultiPartSMSNumber() << '\n'
            << "  DataCoding          " << Hex2(d.DataCoding()) << "  ("
            << DataCodingAlphabet(d.DataCoding()) << ")\n";
  if (!d.Tables().IsDefault()) {
    std::cout << "  NationalTables      locking shift " << gsm7::LanguageCode(d.Tables().locking)
              << ", single shift " << gsm7::LanguageCode(d.Tables().single) << '\n';
  }
  std::cout << "  MessageType         "
            << (d.IsSubmit() ? "SMS-SUBMIT (stored outgoing)" : "SMS-DELIVER") << '\n';
}

int RunDecode(const DecodeOptions& o) {
  std::vector<Entry> entries;
  for (const std::string& arg : o.entries) {
    if (arg == "-") {
      for (auto& e : FromStdin()) entries.push_back(std::move(e));
    } else {
      entries.push_back(FromArgument(arg, o.index));
    }
  }
  bool failed = false;
  int number = 0;
  for (const Entry& entry : entries) {
    ++number;
    SMSDeliver d;
    std::string message;
    int error = 0;
    if (!entry.problem.empty()) {
      message = entry.problem;
      error = kInvalidArgument;
    } else {
      try {
        std::string argument = entry.text;
        d.Decode(argument);
      } catch (const Error& e) {
        message = e.what();
        error = e.number();
      }
    }
    failed = failed || error != 0;
    if (o.json) {
      std::cout << JsonLine(error != 0 ? EntryErrorJson(message, error) : EntryJson(d)) << '\n';
      continue;
    }
    if (number > 1) std::cout << '\n';
    std::cout << "Entry " << number << '\n';
    if (error != 0) {
      std::cout << "  error " << error << ": " << message << '\n';
    } else {
      PrintBlock(d);
    }
  }
  std::cout.flush();
  return failed ? kExitFailure : kExitOk;
}

}  // namespace

void DefinePdu(CLI::App& pdu, int& status) {
  pdu.require_subcommand(1);
  pdu.footer(
      "Examples:\n"
      "  tarvex pdu encode +31612345678 'See you at 8'\n"
      "  tarvex pdu decode --json $'3\\r\\n07919999999999F9040B912143658709F10000211122819505"
      "8005C8329BFD06'");

  auto encode_options = std::make_shared<EncodeOptions>();
  CLI::App* encode = pdu.add_subcommand(
      "encode",
      "Print the SMS-SUBMIT PDU of a message, as the modem takes it after AT+CMGS=<octets - 1>.\n"
      "A text the GSM 7-bit alphabet cannot carry goes as UCS2 (160 septets or 70 UTF-16 units\n"
      "in one message; 153 or 67 in a part).");
  encode
      ->add_option("NUMBER", encode_options->number,
                   "Destination: 1 to 20 digits, with or without a leading '+'; always sent as "
                   "an international number")
      ->required()
      ->type_name("");
  encode
      ->add_option("TEXT", encode_options->text,
                   "The text (UTF-8); put -- before a text that "
                   "starts with '-'")
      ->required()
      ->type_name("");
  CLI::Option* ref = encode->add_option(
      "--ref", encode_options->ref, "Reference of a concatenated message, two hex digits (00-FF)");
  CLI::Option* total = encode->add_option("--total", encode_options->total,
                                          "Number of parts of the concatenated message (1-255)");
  CLI::Option* part =
      encode->add_option("--part", encode_options->part, "Number of this part (1-255)");
  ref->needs(total, part);
  total->needs(ref, part);
  part->needs(ref, total);
  encode
      ->add_flag("--long", encode_options->long_message,
                 "Split TEXT as the long-message sender does: one PDU per line, one fresh random "
                 "reference; a text that fits one message gives one single PDU")
      ->excludes(ref, total, part);
  encode
      ->add_option("--national", encode_options->national,
                   "Write 7-bit text through national language tables (3GPP TS 23.038): a "
                   "language (tr es pt bn gu hi kn ml or pa ta te ur) where its tables give fewer "
                   "parts or carry what the default alphabet cannot, or auto for whichever tables "
                   "give the fewest parts (default alphabet and UCS2 included); off by default, "
                   "since some phones show such messages wrongly.  The header names the tables: "
                   "a part then holds 149 or 146 septets")
      ->type_name("LANG")
      ->default_str("off");
  encode->footer(
      "Examples:\n"
      "  tarvex pdu encode +123 abc                     -> 001100039121F30000FF0361F118\n"
      "  tarvex pdu encode +123 abc --ref 2A --total 2 --part 2\n"
      "  tarvex pdu encode --long +31612345678 \"$(cat letter.txt)\"\n"
      "  tarvex pdu encode --long --national tr +905321234567 \"Şişli'ye gidiyorum\"");
  encode->callback([encode_options, &status] { status = RunEncode(*encode_options); });

  auto decode_options = std::make_shared<DecodeOptions>();
  CLI::App* decode = pdu.add_subcommand(
      "decode",
      "Decode message entries as the modem lists them: INDEX, CR LF, PDU (LF alone will do), or a\n"
      "bare PDU.  With '-' entries are read from standard input: one PDU per line, optionally\n"
      "after a line holding its index or the modem's '+CMGL: INDEX,...' line.\n"
      "An entry that fails is reported and decoding goes on; the exit status is then 1.");
  decode->add_option("ENTRY", decode_options->entries, "Entries, or '-' for standard input")
      ->required()
      ->type_name("");
  decode->add_option("--index", decode_options->index,
                     "MessageID for bare PDUs given on the command line");
  decode->add_flag("--json", decode_options->json,
                   "One JSON object per entry and line: MessageID, PhoneNumber, MessageTime "
                   "(YYYY-MM-DDTHH:MM:SS as written), MessageText, MultiPartSMS, MultiPartSMSRef, "
                   "MultiPartSMSCount, MultiPartSMSNumber, TimeZone, DataCoding, Alphabet, "
                   "SenderType, MessageType, Tables (the national LockingShift and SingleShift "
                   "tables the text was read through, \"default\" or a language code); a failed "
                   "entry gives {\"error\": ..., \"number\": ...}");
  decode->footer(
      "Examples:\n"
      "  tarvex pdu decode --index 3 "
      "07919999999999F9040B912143658709F100002111228195058005C8329BFD06\n"
      "  printf '3\\n001100039121F30000FF0361F118\\n' | tarvex pdu decode --json -");
  decode->callback([decode_options, &status] { status = RunDecode(*decode_options); });
}

}  // namespace tarvex::cli

// `tarvex info`, `tarvex ussd`, `tarvex storage`, `tarvex delete`: one engine
// operation each on a slot that the command opens and closes.  A refusal
// (with the modem's reason) exits 1, silence 4.
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "codec/ussd_text.h"
#include "commands.h"
#include "engine/modem_errors.h"
#include "entry_json.h"
#include "modem_actions.h"
#include "modem_session.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

// The worse of two statuses: a timeout outranks a plain refusal.
int Worse(int a, int b) { return std::max(a, b); }

void PrintJson(const Json& j) { std::cout << JsonLine(j) << "\n"; }

// "Result" and, for a failure, "Error": what --json prints for an answer.
Json AnswerJson(const Answer& a) {
  Json j = {{"Result", a.Result()}};
  if (!a.done()) j["Error"] = ModemErrorJson(a);
  return j;
}

}  // namespace

Json ModemErrorJson(const Answer& a) {
  if (a.outcome == Answer::kNoAnswer) return {{"Kind", "TIMEOUT"}, {"Text", "no answer"}};
  const FinalCode& e = a.error;
  Json j = {{"Kind", e.kind == FinalCode::kCmsError   ? "CMS"
                     : e.kind == FinalCode::kCmeError ? "CME"
                                                      : "ERROR"}};
  j["Code"] = e.number >= 0 ? Json(e.number) : Json(nullptr);
  const std::string meaning = ModemErrorMeaning(e);
  j["Text"] = !meaning.empty() ? meaning : e.line.empty() ? "ERROR" : e.line;
  return j;
}

int ShowInfo(ModemSession& session, int16_t slot, bool json) {
  Tarvex& engine = session.engine();
  struct Row {
    const char* key;
    const char* caption;
    Tarvex::Query query;
    Answer answer;
  } rows[] = {
      {"DeviceManufacture", "Manufacturer", Tarvex::Query::kManufacturer, {}},
      {"DeviceModel", "Model", Tarvex::Query::kModel, {}},
      {"DeviceIMEI", "IMEI", Tarvex::Query::kIMEI, {}},
      {"MessageStorage", "Storage", Tarvex::Query::kStorage, {}},
  };
  int status = kExitOk;
  for (Row& r : rows) {
    r.answer = engine.Ask(slot, r.query);
    status = Worse(status, StatusFor(r.answer.outcome));
  }
  const std::string name = engine.DeviceName(slot);

  if (json) {
    Json j = {{"ModemID", slot}, {"Port", session.DescribePort(slot)}};
    Json errors = Json::object();
    for (const Row& r : rows) {
      j[r.key] = r.answer.Result();
      if (!r.answer.done()) errors[r.key] = ModemErrorJson(r.answer);
    }
    j["DeviceName"] = name;
    if (!errors.empty()) j["Errors"] = errors;
    PrintJson(j);
  } else {
    std::cout << "Slot " << slot << " on " << session.DescribePort(slot) << "\n";
    for (const Row& r : rows) {
      std::cout << "  " << r.caption << std::string(14 - std::string(r.caption).size(), ' ')
                << (r.answer.done() ? r.answer.value : "(" + Why(r.answer) + ")") << "\n";
    }
    std::cout << "  Name          " << (name.empty() ? "(none)" : name) << "\n";
  }
  for (const Row& r : rows) {
    if (r.answer.outcome == Answer::kRefused) {
      std::cerr << "tarvex: the modem refused the " << r.caption << " query: " << Why(r.answer)
                << "\n";
    } else if (r.answer.outcome == Answer::kNoAnswer) {
      std::cerr << "tarvex: the modem did not answer the " << r.caption << " query in time\n";
    }
  }
  return status;
}

// What `tarvex ussd` prints for an answer the network gave.
int RunUssd(ModemSession& session, int16_t slot, const std::string& code, int32_t timeout_ms,
            bool json) {
  const UssdAnswer answer = session.engine().RunUssd(slot, code, timeout_ms);
  const int status = StatusFor(answer.outcome);
  // Hex from the modem is shown as the text it carries; Result stays the engine's.
  const UssdText shown =
      DecodeUssdText(answer.text, answer.dcs >= 0 ? std::optional<int>(answer.dcs) : std::nullopt);
  if (json) {
    Json j = {{"Command", code}};
    j.update(AnswerJson(answer));
    if (answer.done()) {
      j["Text"] = shown.text;
      j["Coding"] = shown.coding;
      j["Raw"] = shown.raw;
    }
    if (answer.by_network) {
      j["Result"] = "REFUSED";
      j["Error"] = {{"Kind", "NETWORK"},
                    {"Code", answer.status},
                    {"Text", answer.status == 4 ? "not supported" : "ended by the network"}};
    }
    if (answer.status >= 0) j["Status"] = answer.status;
    PrintJson(j);
  } else if (status == kExitOk) {
    std::cout << (answer.text.empty() ? "(the network answered without text)" : shown.text) << "\n";
  }
  if (answer.by_network) {
    std::cerr << "tarvex: the network refused the request " << code << " (USSD status "
              << answer.status << ": "
              << (answer.status == 4 ? "not supported" : "ended by the network") << ")\n";
  } else if (status == kExitFailure) {
    std::cerr << "tarvex: the modem refused the USSD request " << code << ": " << Why(answer)
              << "\n";
  } else if (status == kExitTimeout) {
    std::cerr << "tarvex: no answer to " << code << " within " << timeout_ms
              << " ms (TIMEOUT); try a larger --timeout\n";
  }
  return status;
}

int ShowOrSetStorage(ModemSession& session, int16_t slot, const std::string& name, bool json) {
  Tarvex& engine = session.engine();
  if (!name.empty()) {
    const Answer selected = engine.SelectStorage(slot, name);
    if (!selected.done()) {
      if (json) {
        Json j = {{"StorageID", name}};
        j.update(AnswerJson(selected));
        PrintJson(j);
      }
      std::cerr << "tarvex: the modem did not select the storage " << name << ": " << Why(selected)
                << "\n";
      return StatusFor(selected.outcome);
    }
  }
  const Answer storage = engine.Ask(slot, Tarvex::Query::kStorage);
  if (json) {
    Json j;
    if (!name.empty()) j["StorageID"] = name;
    j.update(AnswerJson(storage));
    j["Result"] = storage.done() ? "OK" : storage.Result();
    j["MessageStorage"] = storage.done() ? storage.value : "";
    PrintJson(j);
  } else if (storage.done()) {
    std::cout << (name.empty() ? "" : "Selected. ") << "Messages are read from storage "
              << storage.value << "\n";
  }
  if (!storage.done()) {
    std::cerr << "tarvex: the modem did not report its storage (AT+CPMS?): " << Why(storage)
              << "\n";
  }
  return StatusFor(storage.outcome);
}

int DeleteMessage(ModemSession& session, int16_t slot, int32_t index, bool json) {
  const Answer deleted = session.engine().DeleteStored(slot, index);
  if (json) {
    Json j = {{"MessageID", std::to_string(index)}};
    j.update(AnswerJson(deleted));
    PrintJson(j);
  } else if (deleted.done()) {
    std::cout << "Deleted message " << index << "\n";
  }
  if (!deleted.done()) {
    std::cerr << "tarvex: the modem did not delete message " << index << ": " << Why(deleted)
              << "\n";
  }
  return StatusFor(deleted.outcome);
}

namespace {

// The modem commands here all work on an unlocked SIM.
int Run(const SlotArgs& args, const std::function<int(ModemSession&, int16_t)>& work) {
  return RunOnSlot(args.slot, {.trace = args.trace}, ModemSession::SimNeed::kUnlocked, work);
}

}  // namespace

void DefineInfo(CLI::App& info, int& status) {
  auto args = AddSlotArgs(info);
  info.footer("Example: tarvex info -m 1");
  info.callback([args, &status] {
    status =
        Run(*args, [&](ModemSession& s, int16_t slot) { return ShowInfo(s, slot, args->json); });
  });
}

void DefineUssd(CLI::App& ussd, int& status) {
  auto args = AddSlotArgs(ussd);
  auto code = std::make_shared<std::string>();
  auto timeout = std::make_shared<int32_t>(10000);
  ussd.add_option("CODE", *code, "The code you would dial, e.g. *100#")->required();
  ussd.add_option("--timeout", *timeout, "How long to wait for the network's answer, in ms")
      ->capture_default_str()
      ->check(CLI::Range(0, 600000));
  ussd.footer("Example: tarvex ussd -m 1 '*100#'");
  ussd.callback([args, code, timeout, &status] {
    status = Run(*args, [&](ModemSession& s, int16_t slot) {
      return RunUssd(s, slot, *code, *timeout, args->json);
    });
  });
}

void DefineStorage(CLI::App& storage, int& status) {
  auto args = AddSlotArgs(storage);
  auto name = std::make_shared<std::string>();
  storage.add_option("NAME", *name, "Storage to select for reading and deleting, e.g. SM or ME");
  storage.footer("Examples: tarvex storage -m 1\n          tarvex storage -m 1 ME");
  storage.callback([args, name, &status] {
    status = Run(*args, [&](ModemSession& s, int16_t slot) {
      return ShowOrSetStorage(s, slot, *name, args->json);
    });
  });
}

void DefineDelete(CLI::App& del, int& status) {
  auto args = AddSlotArgs(del);
  auto index = std::make_shared<int32_t>(0);
  del.add_option("INDEX", *index, "The message's index, as 'tarvex list' shows it")->required();
  del.footer("Example: tarvex delete -m 1 3");
  del.callback([args, index, &status] {
    status = Run(*args, [&](ModemSession& s, int16_t slot) {
      return DeleteMessage(s, slot, *index, args->json);
    });
  });
}

}  // namespace tarvex::cli

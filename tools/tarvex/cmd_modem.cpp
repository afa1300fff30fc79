// `tarvex info`, `tarvex ussd`, `tarvex storage`, `tarvex delete`: one engine
// operation each on a slot that the command opens and closes.  Results the
// modem gives as text ("ERROR", "TIMEOUT") become exit statuses 1 and 4.
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "codec/ussd_text.h"
#include "commands.h"
#include "entry_json.h"
#include "modem_actions.h"
#include "modem_session.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

// The worse of two statuses: a timeout outranks a plain refusal.
int Worse(int a, int b) { return std::max(a, b); }

void PrintJson(const Json& j) { std::cout << JsonLine(j) << "\n"; }

}  // namespace

int ShowInfo(ModemSession& session, int16_t slot, bool json) {
  Tarvex& engine = session.engine();
  const std::string maker = engine.DeviceManufacture(slot);
  const std::string model = engine.DeviceModel(slot);
  const std::string imei = engine.DeviceIMEI(slot);
  const std::string storage = engine.GetMessageStorageID(slot);
  const std::string name = engine.DeviceName(slot);

  int status = kExitOk;
  for (const std::string* r : {&maker, &model, &imei}) status = Worse(status, StatusForResult(*r));
  // GetMessageStorageID gives "0" for ERROR and for no answer alike.
  if (storage == "0") status = Worse(status, kExitFailure);

  if (json) {
    PrintJson({{"ModemID", slot},
               {"Port", session.DescribePort(slot)},
               {"DeviceManufacture", maker},
               {"DeviceModel", model},
               {"DeviceIMEI", imei},
               {"MessageStorage", storage},
               {"DeviceName", name}});
  } else {
    std::cout << "Slot " << slot << " on " << session.DescribePort(slot) << "\n"
              << "  Manufacturer  " << maker << "\n"
              << "  Model         " << model << "\n"
              << "  IMEI          " << imei << "\n"
              << "  Storage       " << (storage == "0" ? "(not reported)" : storage) << "\n"
              << "  Name          " << (name.empty() ? "(none)" : name) << "\n";
  }
  if (status != kExitOk) {
    std::cerr << "tarvex: the modem did not answer every query (see the values above)\n";
  }
  return status;
}

int RunUssd(ModemSession& session, int16_t slot, const std::string& code, int32_t timeout_ms,
            bool json) {
  const std::string answer = session.engine().SendCommand(slot, code, timeout_ms);
  const int status = StatusForResult(answer);
  // Hex from the modem is shown as the text it carries; Result stays the engine's.
  const UssdText shown = DecodeUssdText(answer, std::nullopt);
  if (json) {
    PrintJson({{"Command", code},
               {"Result", answer},
               {"Text", shown.text},
               {"Coding", shown.coding},
               {"Raw", shown.raw}});
  } else if (status == kExitOk) {
    std::cout << (answer.empty() ? "(the network answered without text)" : shown.text) << "\n";
  }
  if (status == kExitFailure) {
    std::cerr << "tarvex: the modem refused the USSD request " << code << " (ERROR)\n";
  } else if (status == kExitTimeout) {
    std::cerr << "tarvex: no answer to " << code << " within " << timeout_ms
              << " ms (TIMEOUT); try a larger --timeout\n";
  }
  return status;
}

int ShowOrSetStorage(ModemSession& session, int16_t slot, const std::string& name, bool json) {
  Tarvex& engine = session.engine();
  std::string result = "OK";
  if (!name.empty()) {
    result = engine.SetMessageStorageID(slot, name);
    if (result != "OK") {
      const int status = StatusForResult(result);
      if (json) PrintJson({{"StorageID", name}, {"Result", result}});
      std::cerr << "tarvex: the modem did not select the storage " << name << " (" << result
                << ")\n";
      return status;
    }
  }
  const std::string storage = engine.GetMessageStorageID(slot);
  const bool known = storage != "0";
  if (json) {
    Json j;
    if (!name.empty()) j["StorageID"] = name;
    j["Result"] = known ? "OK" : "ERROR";
    j["MessageStorage"] = storage;
    PrintJson(j);
  } else if (known) {
    std::cout << (name.empty() ? "" : "Selected. ") << "Messages are read from storage " << storage
              << "\n";
  }
  if (!known) {
    std::cerr << "tarvex: the modem did not report its storage (AT+CPMS? failed or timed out)\n";
    return kExitFailure;
  }
  return kExitOk;
}

int DeleteMessage(ModemSession& session, int16_t slot, int32_t index, bool json) {
  const std::string result = session.engine().RemoveMessage(slot, index);
  const int status = StatusForResult(result);
  if (json) {
    PrintJson({{"MessageID", std::to_string(index)}, {"Result", result}});
  } else if (status == kExitOk) {
    std::cout << "Deleted message " << index << "\n";
  }
  if (status != kExitOk) {
    std::cerr << "tarvex: the modem did not delete message " << index << " (" << result << ")\n";
  }
  return status;
}

void AddModemCommands(CLI::App& app, int& status) {
  struct Common {
    int slot = 1;
    bool json = false;
    bool trace = false;
  };
  auto common = std::make_shared<Common>();
  auto add_common = [common](CLI::App* cmd) {
    AddSlotOption(cmd, common->slot);
    cmd->add_flag("--json", common->json, "Print one JSON object");
    AddTraceOption(cmd, common->trace);
  };
  // Opens the slot, runs the work, closes it on every path.
  auto run = [common, &status](std::function<int(ModemSession&, int16_t)> work) {
    status = RunModemCommand([&] {
      ModemSession session(SessionOptions{.trace = common->trace});
      const auto slot = static_cast<int16_t>(common->slot);
      session.Open(slot);
      const int result = work(session, slot);
      session.Close();
      return result;
    });
  };

  CLI::App* info = app.add_subcommand("info", "Show the modem's maker, model, IMEI, storage, name");
  add_common(info);
  info->footer("Example: tarvex info -m 1");
  info->callback([run, common] {
    run([common](ModemSession& s, int16_t slot) { return ShowInfo(s, slot, common->json); });
  });

  auto code = std::make_shared<std::string>();
  auto timeout = std::make_shared<int32_t>(10000);
  CLI::App* ussd =
      app.add_subcommand("ussd", "Send a USSD request (balance, menus) and print the answer");
  add_common(ussd);
  ussd->add_option("CODE", *code, "The code you would dial, e.g. *100#")->required();
  ussd->add_option("--timeout", *timeout, "How long to wait for the network's answer, in ms")
      ->capture_default_str()
      ->check(CLI::Range(0, 600000));
  ussd->footer("Example: tarvex ussd -m 1 '*100#'");
  ussd->callback([run, common, code, timeout] {
    run([&](ModemSession& s, int16_t slot) {
      return RunUssd(s, slot, *code, *timeout, common->json);
    });
  });

  auto name = std::make_shared<std::string>();
  CLI::App* storage =
      app.add_subcommand("storage", "Show the message storage, or select one (SM: SIM, ME: phone)");
  add_common(storage);
  storage->add_option("NAME", *name, "Storage to select for reading and deleting, e.g. SM or ME");
  storage->footer("Examples: tarvex storage -m 1\n          tarvex storage -m 1 ME");
  storage->callback([run, common, name] {
    run([&](ModemSession& s, int16_t slot) {
      return ShowOrSetStorage(s, slot, *name, common->json);
    });
  });

  auto index = std::make_shared<int32_t>(0);
  CLI::App* del = app.add_subcommand("delete", "Delete the stored message with this index");
  add_common(del);
  del->add_option("INDEX", *index, "The message's index, as 'tarvex list' shows it")->required();
  del->footer("Example: tarvex delete -m 1 3");
  del->callback([run, common, index] {
    run([&](ModemSession& s, int16_t slot) {
      return DeleteMessage(s, slot, *index, common->json);
    });
  });
}

}  // namespace tarvex::cli

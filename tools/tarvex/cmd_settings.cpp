// `tarvex settings`: the communication settings dialog in the terminal.
// `tarvex slot set N --port P --baud B [--name NAME]` and `tarvex slot remove N`:
// the same dialog's Apply and Remove, driven without a screen, so that the two
// ways of configuring a slot cannot differ.  Both work on the default settings
// store (TARVEX_STATE_DIR moves it).
//
// The dialog itself reports nothing; the command line must, so after Apply or
// Remove it asks the store whether the change landed and fails (exit 5) when
// it did not, for example without write access to the machine-wide database.
// (Reading the slot back would not tell: another writer may change it first.)
// Apply writes the port, baud rate and name in one transaction and Remove
// deletes them in one, so a reader or a kill sees the old slot or the new.
#include <iostream>
#include <string>

#include "commands.h"
#include "config/frm_setting.h"
#include "platform/posix/posix_platform.h"
#include "store.h"
#include "tarvex/mdl_public.h"
#include "ui/settings_tui.h"

namespace tarvex::cli {
namespace {

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

// The slot the dialog's list offers, or a usage error.
bool CheckSlot(int slot, const char* command) {
  if (slot >= 1 && slot <= frmSetting::kSlotCount) return true;
  std::cerr << "tarvex " << command << ": slot " << slot << " is not one of 1 to "
            << frmSetting::kSlotCount << ".\n";
  return false;
}

int SlotSet(int slot, const std::string& port, const std::string& baud,
            const std::optional<std::string>& name) {
  if (!CheckSlot(slot, "slot set")) return kExitUsage;
  auto registry = OpenStore();
  RegistryUserSettings user(*registry);
  frmSetting form(*registry, user);
  form.Form_Load();
  form.SelectModemID(slot - 1);

  const int port_index = form.cboCommPort().Find(port);
  if (port_index < 0) {
    std::cerr << "tarvex slot set: port '" << port << "' is not in the list; pick one of "
              << form.cboCommPort().entries.front() << " to " << form.cboCommPort().entries.back()
              << ".\n";
    return kExitUsage;
  }
  const int baud_index = form.cboBaudRate().Find(baud);
  if (baud_index < 0) {
    std::cerr << "tarvex slot set: baud rate '" << baud << "' is not in the list; pick one of "
              << Join(form.cboBaudRate().entries) << ".\n";
    return kExitUsage;
  }
  if (name) {
    form.SetDeviceName(*name);
    if (form.txtDeviceName() != *name) {
      std::cerr << "tarvex slot set: the name may have at most " << frmSetting::kDeviceNameMaxLength
                << " characters.\n";
      return kExitUsage;
    }
  }
  form.SelectCommPort(port_index);
  form.SelectBaudRate(baud_index);
  // What Apply stores as the name: the field as typed, or the slot's label
  // when the field is blank.
  const std::string field = form.txtDeviceName();
  const bool blank = field.find_first_not_of(' ') == std::string::npos;
  const std::string expected_name = blank ? form.cboModemID().Text() : field;
  form.Press(frmSetting::kApply);

  if (!registry->WriteProblem(kRegLocalMachine).empty()) {
    std::cerr << "tarvex slot set: slot " << slot << " was not saved: " << WriteFailure(*registry)
              << "\n";
    return kExitError;
  }
  std::cout << "slot " << slot << ": port " << port << ", baud " << baud << ", name '"
            << expected_name << "'\n";
  return kExitOk;
}

int SlotRemove(int slot) {
  if (!CheckSlot(slot, "slot remove")) return kExitUsage;
  auto registry = OpenStore();
  RegistryUserSettings user(*registry);
  frmSetting form(*registry, user);
  form.Form_Load();
  form.SelectModemID(slot - 1);
  if (!form.RemoveEnabled()) {
    const auto n = static_cast<int16_t>(slot);
    const std::string stored = mdlPublic::GetPortSetting(*registry, n);
    std::cerr << "tarvex slot remove: slot " << slot;
    if (stored.empty()) {
      std::cerr << " has no port stored; there is nothing to remove.\n";
    } else {
      std::cerr << "'s stored port '" << stored
                << "' is not one of 1 to 25, so the dialog offers no Remove.\n"
                << "Set the slot first ('tarvex slot set " << slot << " --port ...'), then "
                << "remove it.\n";
    }
    return kExitError;
  }
  form.Press(frmSetting::kRemove);

  if (!registry->WriteProblem(kRegLocalMachine).empty()) {
    std::cerr << "tarvex slot remove: slot " << slot
              << " was not removed: " << WriteFailure(*registry) << "\n";
    return kExitError;
  }
  std::cout << "slot " << slot << ": removed\n";
  return kExitOk;
}

}  // namespace

void DefineSettings(CLI::App& settings, int& status) {
  settings.footer(
      "Keys: Tab/Shift+Tab move, Enter or Space opens a list or presses a button,\n"
      "Alt+A Apply, Alt+R Remove, Alt+C or Esc Close.\n"
      "Example: TARVEX_STATE_DIR=~/.tarvex tarvex settings");
  settings.callback([&status] {
    auto registry = OpenStore();
    RegistryUserSettings user(*registry);
    status = ui::RunSettingsDialog(*registry, user) == ui::kDialogClosed ? kExitOk : kExitError;
  });
}

void DefineSlot(CLI::App& slot, int& status) {
  slot.require_subcommand(1);

  struct SetOptions {
    int slot = 0;
    std::string port;
    std::string baud;
    std::optional<std::string> name;
  };
  auto set_options = std::make_shared<SetOptions>();
  CLI::App* set = slot.add_subcommand(
      "set", "Store a slot's port, baud rate and name, as the dialog's Apply does");
  set->add_option("N", set_options->slot, "slot number, 1 to 4")->required();
  set->add_option("--port", set_options->port, "serial port number, 1 to 25")->required();
  set->add_option("--baud", set_options->baud,
                  "baud rate: 2400 9600 14400 19200 28800 38400 57600 115200 230400 460800 "
                  "128000 256000")
      ->required();
  set->add_option("--name", set_options->name,
                  "display name, at most 20 characters (blank: the slot's label 'Modem #N'; "
                  "left out: the stored name is kept)");
  set->footer("Example: tarvex slot set 2 --port 3 --baud 115200 --name \"Front desk\"");
  set->callback([&status, set_options] {
    status = SlotSet(set_options->slot, set_options->port, set_options->baud, set_options->name);
  });

  auto remove_slot = std::make_shared<int>(0);
  CLI::App* remove = slot.add_subcommand(
      "remove", "Delete a slot's port, baud rate and name, as the dialog's Remove does");
  remove->add_option("N", *remove_slot, "slot number, 1 to 4")->required();
  remove->footer("Example: tarvex slot remove 2");
  remove->callback([&status, remove_slot] { status = SlotRemove(*remove_slot); });
}

}  // namespace tarvex::cli

// `tarvex slots`, `tarvex ports`, `tarvex ports map P DEVICE`, `tarvex ports
// unmap P`: the slot table and the port-number map, read and written in the
// settings store (SqliteRegistry::OpenDefault).  Nothing here opens a port.
//
// The port map is what the termios port resolves port numbers through: under
// HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM" a value named by the
// device path holds "COMn".  A port keeps at most one device: mapping it again
// replaces the old entry, in the same transaction as the new one is written, so
// no reader ever sees a port with two devices or none.  Ports are numbered as
// `slot set` numbers them: 1 to 25.
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/posix/posix_platform.h"
#include "store.h"
#include "tarvex/mdl_public.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;
using posix::SqliteRegistry;
using posix::TermiosPort;

void PrintJson(const Json& j) {
  // Stored texts are whatever a host wrote; bad UTF-8 must not abort the listing.
  std::cout << j.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

// Display width of UTF-8 text: one column per code point.
size_t Width(const std::string& s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& s, size_t width) {
  const size_t w = Width(s);
  return w >= width ? s + "  " : s + std::string(width - w + 2, ' ');
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += i + 1 == row.size() ? row[i] : Pad(row[i], widths[i]);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::cout << line << "\n";
  }
}

bool DeviceExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The ports the dialog and `slot set` offer.
constexpr int16_t kLastPort = 25;

// A plain decimal port number, 1..32767 (what the engine opens).
std::optional<int16_t> ParseNumber(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const long n = std::stol(text);
  if (n < 1 || n > 32767) return std::nullopt;
  return static_cast<int16_t>(n);
}

// "COMn" in any case, as the port map holds it.
std::optional<int16_t> ParseComName(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.size() < 4 || (text[0] | 0x20) != 'c' || (text[1] | 0x20) != 'o' ||
      (text[2] | 0x20) != 'm') {
    return std::nullopt;
  }
  return ParseNumber(text.substr(3));
}

// The command line takes either form, "3" or "COM3", for the ports 1 to 25.
std::optional<int16_t> ParsePortArg(const std::string& text) {
  std::optional<int16_t> port = ParseNumber(text);
  if (!port) port = ParseComName(text);
  if (port && *port > kLastPort) return std::nullopt;
  return port;
}

int StoreFailed(const SqliteRegistry& reg) {
  std::cerr << "tarvex: " << WriteFailure(reg) << "\n";
  return kExitError;
}

int BadPort(const std::string& text) {
  std::cerr << "tarvex: '" << text << "' is no port number (1 to " << kLastPort
            << ", or COM1 to COM" << kLastPort << ", as 'tarvex slot set' takes)\n";
  return kExitUsage;
}

// ---- tarvex slots ---------------------------------------------------------

struct SlotRow {
  int16_t slot;
  std::string port, device, baud, name;
  bool present = false;
};

SlotRow ReadSlot(SqliteRegistry& reg, int16_t slot) {
  SlotRow row{slot, mdlPublic::GetPortSetting(reg, slot), "",
              mdlPublic::GetBaudRateSetting(reg, slot), mdlPublic::GetDeviceNameSetting(reg, slot)};
  // Only a plain number names a device, as when the engine opens the slot.
  if (std::optional<int16_t> port = ParseNumber(row.port)) {
    row.device = TermiosPort::ResolveDevice(reg, *port);
    row.present = DeviceExists(row.device);
  }
  return row;
}

int ListSlots(bool json) {
  auto reg = OpenStore();
  std::vector<SlotRow> rows;
  for (int16_t slot = 0; slot <= 4; ++slot) {
    SlotRow row = ReadSlot(*reg, slot);
    // Slot 0 exists in the engine but the dialog never configures it.
    if (slot == 0 && row.port.empty() && row.baud.empty() && row.name.empty()) continue;
    rows.push_back(std::move(row));
  }
  if (json) {
    Json out = Json::array();
    for (const SlotRow& r : rows) {
      out.push_back({{"slot", r.slot},
                     {"port", r.port},
                     {"device", r.device},
                     {"present", r.present},
                     {"baud", r.baud},
                     {"name", r.name}});
    }
    PrintJson(out);
    return kExitOk;
  }
  std::vector<std::vector<std::string>> table{{"SLOT", "PORT", "DEVICE", "BAUD", "NAME"}};
  for (const SlotRow& r : rows) {
    std::string device = r.device.empty() ? "-" : r.device + (r.present ? "" : " (missing)");
    std::string name = r.name;
    if (r.port.empty() && r.baud.empty() && r.name.empty()) name = "(not configured)";
    table.push_back({std::to_string(r.slot), r.port.empty() ? "-" : r.port, device,
                     r.baud.empty() ? "-" : r.baud, name});
  }
  PrintTable(table);
  return kExitOk;
}

// ---- tarvex ports ---------------------------------------------------------

struct MapEntry {
  std::optional<int16_t> port;  // nullopt: data that names no port
  std::string data, device;
};

std::vector<MapEntry> ReadMap(SqliteRegistry& reg) {
  std::vector<MapEntry> entries;
  for (auto& [device, data] : reg.EnumStringValues(kRegLocalMachine, TermiosPort::kPortMapKey)) {
    entries.push_back({ParseComName(data), data, device});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const MapEntry& a, const MapEntry& b) {
    return a.port.value_or(INT16_MAX) < b.port.value_or(INT16_MAX);
  });
  return entries;
}

int ListPorts(bool json) {
  auto reg = OpenStore();
  const std::vector<MapEntry> entries = ReadMap(*reg);
  if (json) {
    Json out = Json::array();
    for (const MapEntry& e : entries) {
      Json item{{"port", e.port ? Json(*e.port) : Json(nullptr)},
                {"data", e.data},
                {"device", e.device},
                {"present", DeviceExists(e.device)}};
      out.push_back(item);
    }
    PrintJson(out);
    return kExitOk;
  }
  if (entries.empty()) {
    std::cout << "No ports mapped.\n";
  } else {
    std::vector<std::vector<std::string>> table{{"PORT", "DEVICE", "PRESENT"}};
    for (const MapEntry& e : entries) {
      table.push_back({e.port ? "COM" + std::to_string(*e.port) : e.data + " (ignored)", e.device,
                       DeviceExists(e.device) ? "yes" : "no"});
    }
    PrintTable(table);
  }
  std::cout << "A port without an entry is /dev/ttyS<n-1> (COM1 is /dev/ttyS0).\n";
  return kExitOk;
}

// Deletes every entry that maps `port`, adding the devices they named to
// `removed`; false when the store refused.
bool RemoveMappings(SqliteRegistry& reg, RegHandle key, int16_t port,
                    std::vector<std::string>* removed) {
  for (const MapEntry& e : ReadMap(reg)) {
    if (e.port != port) continue;
    if (reg.DeleteValue(key, e.device) != kRegSuccess) return false;
    removed->push_back(e.device);
  }
  return true;
}

int MapPort(const std::string& port_text, const std::string& device) {
  const std::optional<int16_t> port = ParsePortArg(port_text);
  if (!port) return BadPort(port_text);
  if (device.empty()) {
    std::cerr << "tarvex: the device path is empty\n";
    return kExitUsage;
  }
  auto reg = OpenStore();
  RegistryWriteGroup group(*reg, kRegLocalMachine);
  RegHandle key = 0;
  if (!group.begun() ||
      reg->CreateKey(kRegLocalMachine, TermiosPort::kPortMapKey, &key) != kRegSuccess) {
    return StoreFailed(*reg);
  }
  const std::string data = "COM" + std::to_string(*port);
  std::vector<std::string> replaced;
  bool ok = RemoveMappings(*reg, key, *port, &replaced);
  ok = ok && reg->SetValue(key, device, kRegSz, reinterpret_cast<const uint8_t*>(data.c_str()),
                           static_cast<uint32_t>(data.size() + 1)) == kRegSuccess;
  reg->CloseKey(key);
  if (!ok || !group.Commit()) return StoreFailed(*reg);
  std::cout << data << " -> " << device << "\n";
  if (!DeviceExists(device)) {
    std::cerr << "tarvex: note: " << device << " does not exist at the moment\n";
  }
  return kExitOk;
}

int UnmapPort(const std::string& port_text) {
  const std::optional<int16_t> port = ParsePortArg(port_text);
  if (!port) return BadPort(port_text);
  auto reg = OpenStore();
  const std::string fallback = "/dev/ttyS" + std::to_string(*port - 1);
  RegHandle key = 0;
  if (reg->OpenKey(kRegLocalMachine, TermiosPort::kPortMapKey, &key) != kRegSuccess) {
    std::cout << "COM" << *port << " was not mapped; it is " << fallback << "\n";
    return kExitOk;
  }
  RegistryWriteGroup group(*reg, kRegLocalMachine);
  std::vector<std::string> removed;
  const bool ok = group.begun() && RemoveMappings(*reg, key, *port, &removed);
  reg->CloseKey(key);
  if (!ok || !group.Commit()) return StoreFailed(*reg);
  if (removed.empty()) {
    std::cout << "COM" << *port << " was not mapped; it is " << fallback << "\n";
  } else {
    std::cout << "COM" << *port << " no longer maps to " << removed.front() << "; it is now "
              << fallback << "\n";
  }
  return kExitOk;
}

}  // namespace

void DefineSlots(CLI::App& slots, int& status) {
  auto json = std::make_shared<bool>(false);
  slots.add_flag("--json", *json, "One JSON array, an object per slot");
  slots.footer("Example: tarvex slots --json");
  slots.callback([json, &status] { status = ListSlots(*json); });
}

void DefinePorts(CLI::App& ports, int& status) {
  struct Args {
    bool json = false;
    std::string map_port, map_device, unmap_port;
  };
  auto args = std::make_shared<Args>();
  ports.add_flag("--json", args->json, "One JSON array, an object per entry");
  ports.require_subcommand(0, 1);
  ports.footer(
      "Examples:\n  tarvex ports\n  tarvex ports map 3 /dev/ttyUSB0\n  tarvex ports unmap 3");
  CLI::App* map = ports.add_subcommand("map", "Make port P (3 or COM3) the device DEVICE");
  map->add_option("P", args->map_port, "Port number, 1 to 25 as 'tarvex slot set' takes")
      ->required();
  map->add_option("DEVICE", args->map_device, "Device path, e.g. /dev/ttyUSB0")->required();
  map->footer("Example: tarvex ports map 3 /dev/ttyUSB0");
  map->callback([args, &status] { status = MapPort(args->map_port, args->map_device); });
  CLI::App* unmap =
      ports.add_subcommand("unmap", "Remove port P's entry (it becomes /dev/ttyS<P-1>)");
  unmap->add_option("P", args->unmap_port, "Port number, 1 to 25")->required();
  unmap->footer("Example: tarvex ports unmap 3");
  unmap->callback([args, &status] { status = UnmapPort(args->unmap_port); });
  ports.callback([args, &status, &ports] {
    if (ports.get_subcommands().empty()) status = ListPorts(args->json);
  });
}

}  // namespace tarvex::cli

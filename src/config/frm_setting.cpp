// The settings dialog's model: layout table, state and handlers.
#include "config/frm_setting.h"

#include <algorithm>

#include "common/text.h"
#include "tarvex/mdl_public.h"
#include "tarvex/t_registry.h"

namespace tarvex {
namespace {

// Controls that set no font of their own show the window's.
constexpr ControlFont kFormFont{"MS Sans Serif", 8.25, false};
constexpr ControlFont kFrameFont{"MS Sans Serif", 8.25, true};
constexpr ControlFont kSlotListFont{"Tahoma", 8.25, true};

using enum ControlId;
using enum ControlKind;

constexpr std::array<ControlInfo, kControlCount> kControls = {{
    {kFrame1, "Frame1", -1, kFrame, "Setting", 180, 180, 6900, 2400, false, 6, kFrameFont, 0,
     false},
    {kLabelConnectionId, "Label1", 2, kLabel, "Connection ID", 225, 405, 1725, 285, true, 9,
     kFormFont, 0, false},
    {kCboModemID, "cboModemID", -1, kDropDownList, "", 1350, 360, 2490, 315, true, 0, kSlotListFont,
     0, true},
    {kLabelDeviceName, "Label1", 1, kLabel, "Device Name", 225, 855, 1725, 285, true, 11, kFormFont,
     0, false},
    {kTxtDeviceName, "txtDeviceName", -1, kTextBox, "", 1350, 810, 2490, 330, true, 1, kFormFont, 0,
     true},
    {kLabelPortAvailable, "Label1", 0, kLabel, "Port Available", 225, 1485, 1725, 285, true, 8,
     kFormFont, 0, false},
    {kCboCommPort, "cboCommPort", -1, kDropDownList, "", 1350, 1440, 1005, 315, true, 2, kFormFont,
     0, true},
    {kLabel4, "Label4", -1, kLabel, "Baud Rate", 225, 1845, 1725, 285, true, 7, kFormFont, 0,
     false},
    {kCboBaudRate, "cboBaudRate", -1, kDropDownList, "", 1350, 1800, 2490, 315, true, 3, kFormFont,
     0, true},
    {kPicture1, "Picture1", -1, kPictureBox, "", 4140, 315, 2490, 1815, true, 12, kFormFont, 0,
     false},
    {kCmdApply, "cmdCommand", 0, kCommandButton, "&Apply", 1740, 2745, 1230, 375, false, 4,
     kFormFont, 'A', true},
    {kCmdRemove, "cmdCommand", 1, kCommandButton, "&Remove", 3045, 2745, 1230, 375, false, 5,
     kFormFont, 'R', true},
    {kCmdClose, "cmdCommand", 2, kCommandButton, "&Close", 4350, 2745, 1230, 375, false, 10,
     kFormFont, 'C', true},
}};

// VB's Trim: spaces only, both ends.
constexpr std::string_view kSpace = " ";

// The first `max_chars` characters of UTF-8 text (a stray byte counts as one).
std::string_view FirstChars(std::string_view text, size_t max_chars) {
  size_t pos = 0;
  for (size_t chars = 0; pos < text.size() && chars < max_chars; ++chars) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return text.substr(0, pos);
}

}  // namespace

std::string frmSetting::ComboList::Text() const {
  if (list_index < 0 || list_index >= static_cast<int>(entries.size())) return {};
  return entries[static_cast<size_t>(list_index)];
}

int frmSetting::ComboList::Find(std::string_view text) const {
  const auto it = std::find(entries.begin(), entries.end(), text);
  return it == entries.end() ? -1 : static_cast<int>(it - entries.begin());
}

frmSetting::frmSetting(RegistryBackend& registry, UserSettings& user_settings)
    : registry_(registry), user_settings_(user_settings) {
  for (int16_t n = 1; n <= kSlotCount; ++n) {
    modem_id_.entries.push_back("Modem #" + std::to_string(n));
  }
  // The port list stays empty until LoadSlotSettings fills it for a slot.
  baud_rate_.entries.assign(kBaudRates.begin(), kBaudRates.end());
}

std::span<const ControlInfo> frmSetting::Controls() { return kControls; }

const ControlInfo& frmSetting::Control(ControlId id) { return kControls[static_cast<size_t>(id)]; }

std::vector<ControlId> frmSetting::TabOrder() {
  std::vector<const ControlInfo*> stops;
  for (const ControlInfo& c : kControls) {
    if (c.tab_stop) stops.push_back(&c);
  }
  std::sort(stops.begin(), stops.end(),
            [](const ControlInfo* a, const ControlInfo* b) { return a->tab_index < b->tab_index; });
  std::vector<ControlId> order;
  for (const ControlInfo* c : stops) order.push_back(c->id);
  return order;
}

void frmSetting::SetScreenSize(int width_twips, int height_twips) {
  screen_width_ = width_twips;
  screen_height_ = height_twips;
}

int16_t frmSetting::SelectedSlot() const {
  return modem_id_.list_index < 0 ? int16_t{0} : static_cast<int16_t>(modem_id_.list_index + 1);
}

std::string frmSetting::UserSection(int16_t slot) {
  return kUserSectionPrefix + std::to_string(slot);
}

void frmSetting::Form_Load() {
  left_ = (screen_width_ - kClientWidth) / 2;
  top_ = (screen_height_ - kClientHeight) / 2;
  unloaded_ = false;
  device_name_.clear();
  modem_id_.list_index = -1;
  remove_enabled_ = false;
  cboModemID_Click();
}

void frmSetting::cboModemID_Click() {
  if (modem_id_.list_index >= 0) {
    comm_port_.enabled = true;
    baud_rate_.enabled = true;
    LoadSlotSettings();
  } else {
    comm_port_.enabled = false;
    baud_rate_.enabled = false;
    SetListIndex(comm_port_, -1);
    SetListIndex(baud_rate_, -1);
  }
  UpdateApply();
}

void frmSetting::cboCommPort_Click() { UpdateApply(); }

void frmSetting::cboBaudRate_Click() { UpdateApply(); }

void frmSetting::UpdateApply() {
  apply_enabled_ =
      modem_id_.list_index >= 0 && comm_port_.list_index >= 0 && baud_rate_.list_index >= 0;
}

void frmSetting::SetListIndex(ComboList& list, int index) {
  if (list.list_index == index) return;
  list.list_index = index;
  if (&list == &modem_id_) {
    cboModemID_Click();
  } else if (&list == &comm_port_) {
    cboCommPort_Click();
  } else {
    cboBaudRate_Click();
  }
}

void frmSetting::LoadSlotSettings() {
  const int16_t n = SelectedSlot();
  // Refilling the list drops its selection; that is a change of selection
  // like any other, so Apply follows it.
  comm_port_.entries.clear();
  for (int port = 1; port <= kPortCount; ++port) comm_port_.entries.push_back(std::to_string(port));
  ++comm_port_.fills;
  SetListIndex(comm_port_, -1);

  device_name_ = std::string(TrimBlanks(mdlPublic::GetDeviceNameSetting(registry_, n), kSpace));

  const int port = comm_port_.Find(mdlPublic::GetPortSetting(registry_, n));
  SetListIndex(comm_port_, port);
  remove_enabled_ = port >= 0;

  SetListIndex(baud_rate_, baud_rate_.Find(mdlPublic::GetBaudRateSetting(registry_, n)));
}

void frmSetting::cmdCommand_Click(int16_t Index) {
  const int16_t n = SelectedSlot();
  const std::string suffix = std::to_string(n);
  switch (Index) {
    case kApply: {
      if (n == 0) return;
      const std::string section = UserSection(n);
      user_settings_.SaveSetting(kUserApp, section, kUserPortKey, comm_port_.Text());
      user_settings_.SaveSetting(kUserApp, section, kUserBaudRateKey, baud_rate_.Text());
      TRegistry registry(registry_);
      const std::string name =
          TrimBlanks(device_name_, kSpace).empty() ? modem_id_.Text() : device_name_;
      // The slot's three values change together or not at all, so a reader
      // never pairs the new port with the old name.
      RegistryWriteGroup group(registry_, kHkeyLocalMachine);
      if (group.begun()) {
        registry.SaveString(kHkeyLocalMachine, mdlPublic::kRouteKey, "dvp" + suffix,
                            comm_port_.Text());
        registry.SaveString(kHkeyLocalMachine, mdlPublic::kRouteKey, "dvb" + suffix,
                            baud_rate_.Text());
        registry.SaveString(kHkeyLocalMachine, mdlPublic::kDeviceNameKey, "dvn" + suffix, name);
        group.Commit();
      }
      LoadSlotSettings();
      break;
    }
    case kRemove: {
      if (n == 0) return;
      const std::string section = UserSection(n);
      user_settings_.DeleteSetting(kUserApp, section, kUserPortKey);
      user_settings_.DeleteSetting(kUserApp, section, kUserBaudRateKey);
      TRegistry registry(registry_);
      RegistryWriteGroup group(registry_, kHkeyLocalMachine);
      if (group.begun()) {
        registry.DelSetting(kHkeyLocalMachine, mdlPublic::kRouteKey, "dvp" + suffix);
        registry.DelSetting(kHkeyLocalMachine, mdlPublic::kRouteKey, "dvb" + suffix);
        registry.DelSetting(kHkeyLocalMachine, mdlPublic::kDeviceNameKey, "dvn" + suffix);
        group.Commit();
      }
      LoadSlotSettings();
      break;
    }
    case kClose:
      unloaded_ = true;
      break;
    default:
      break;
  }
}

bool frmSetting::SelectModemID(int index) {
  if (!modem_id_.enabled || index < 0 || index >= static_cast<int>(modem_id_.entries.size())) {
    return false;
  }
  SetListIndex(modem_id_, index);
  return true;
}

bool frmSetting::SelectCommPort(int index) {
  if (!comm_port_.enabled || index < 0 || index >= static_cast<int>(comm_port_.entries.size())) {
    return false;
  }
  SetListIndex(comm_port_, index);
  return true;
}

bool frmSetting::SelectBaudRate(int index) {
  if (!baud_rate_.enabled || index < 0 || index >= static_cast<int>(baud_rate_.entries.size())) {
    return false;
  }
  SetListIndex(baud_rate_, index);
  return true;
}

void frmSetting::SetDeviceName(std::string_view text) {
  device_name_ = std::string(FirstChars(text, kDeviceNameMaxLength));
}

bool frmSetting::Press(int16_t index) {
  const bool enabled = (index == kApply && apply_enabled_) ||
                       (index == kRemove && remove_enabled_) || index == kClose;
  if (!enabled) return false;
  cmdCommand_Click(index);
  return true;
}

bool frmSetting::IsEnabled(ControlId id) const {
  switch (id) {
    case ControlId::kCboModemID:
      return modem_id_.enabled;
    case ControlId::kCboCommPort:
      return comm_port_.enabled;
    case ControlId::kCboBaudRate:
      return baud_rate_.enabled;
    case ControlId::kCmdApply:
      return apply_enabled_;
    case ControlId::kCmdRemove:
      return remove_enabled_;
    case ControlId::kTxtDeviceName:
    case ControlId::kCmdClose:
      return true;
    default:
      return false;  // labels, frame and picture never take focus
  }
}

}  // namespace tarvex

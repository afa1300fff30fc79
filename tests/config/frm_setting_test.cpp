// The settings dialog's model over the in-memory registry: each scenario runs
// user steps on what is stored and compares what the user sees and stores.
#include "config/frm_setting.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_user_settings.h"
#include "tarvex/mdl_public.h"
#include "testing/memory_registry.h"

namespace tarvex {
namespace {

using testing::MemoryRegistry;
using F = frmSetting;

// What the user sees, as "#slot 'name' port/baud" and the enabled parts
// ("lists apply remove", "-" for none).
std::string Look(const frmSetting& f) {
  EXPECT_EQ(f.cboCommPort().enabled, f.cboBaudRate().enabled);
  std::string enabled = std::string(f.cboCommPort().enabled ? " lists" : "") +
                        (f.ApplyEnabled() ? " apply" : "") + (f.RemoveEnabled() ? " remove" : "");
  return "#" + std::to_string(f.SelectedSlot()) + " '" + f.txtDeviceName() + "' " +
         f.cboCommPort().Text() + "/" + f.cboBaudRate().Text() + (enabled.empty() ? " -" : enabled);
}

using Step = std::function<void(frmSetting&)>;
Step Slot(int n) {
  return [n](frmSetting& f) { ASSERT_TRUE(f.SelectModemID(n - 1)) << "slot " << n; };
}
Step Port(std::string t) {
  return [t](frmSetting& f) { ASSERT_TRUE(f.SelectCommPort(f.cboCommPort().Find(t))) << t; };
}
Step Baud(std::string t) {
  return [t](frmSetting& f) { ASSERT_TRUE(f.SelectBaudRate(f.cboBaudRate().Find(t))) << t; };
}
Step Name(std::string t) {
  return [t](frmSetting& f) { f.SetDeviceName(t); };
}
Step Press(int16_t i) {
  return [i](frmSetting& f) { ASSERT_TRUE(f.Press(i)) << "button " << i; };
}

const char* KeyOf(const std::string& value) {
  return value.starts_with("dvn") ? mdlPublic::kDeviceNameKey : mdlPublic::kRouteKey;
}

// A value as the dialog stores text: REG_SZ with its NUL; nullopt for none.
std::optional<MemoryRegistry::Value> Sz(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::vector<uint8_t> bytes(text->begin(), text->end());
  bytes.push_back(0);
  return MemoryRegistry::Value{kRegSz, bytes};
}

// Where VB's SaveSetting keeps a slot's per-user copy.
const std::string kUserSection =
    "Software\\VB and VBA Program Settings\\Velmoria\\Tarvex v4.0 - Modem #";

using Values = std::map<std::string, std::optional<std::string>>;

struct Scenario {
  std::string name;
  std::map<std::string, std::string> stored;  // before the dialog opens
  std::vector<Step> steps;
  std::string view;
  Values after = {};  // changed values (nullopt: deleted); the rest must be as stored
  bool fail_writes = false;
};

class FrmSettingScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(FrmSettingScenario, ShowsAndStoresWhatTheUserExpects) {
  const Scenario& s = GetParam();
  MemoryRegistry registry;
  RegistryUserSettings user(registry);
  for (const auto& [value, text] : s.stored) {
    registry.PutString(kRegLocalMachine, KeyOf(value), value, text);
  }
  registry.SetFailWrites(s.fail_writes);

  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : s.steps) {
    step(form);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_EQ(Look(form), s.view);
  Values expected(s.stored.begin(), s.stored.end());
  for (const auto& [value, text] : s.after) expected[value] = text;
  for (const auto& [value, text] : expected) {
    EXPECT_EQ(registry.Get(kRegLocalMachine, KeyOf(value), value), Sz(text)) << value;
  }
  EXPECT_EQ(registry.OpenHandles(), 0);
}

// With a neighbour no button may touch ("dvp12" is no prefix of slot 1's).
const std::map<std::string, std::string> kSlot1 = {
    {"dvp1", "3"}, {"dvb1", "115200"}, {"dvn1", "  Front desk "}, {"dvp12", "5"}};
const Scenario kScenarios[] = {
    {"SwitchingToAnEmptySlotClearsTheSelectionsAndSavesNothing",
     kSlot1,
     {Slot(1), Port("9"), Name("Changed"), Slot(2)},
     "#2 '' / lists"},
    {"PortOutsideTheListLeavesRemoveDisabled",
     {{"dvp1", "COM3"}, {"dvb1", "9600"}},
     {Slot(1)},
     "#1 '' /9600 lists"},
    {"BaudOutsideTheListMustBePickedAgain",
     {{"dvp4", "5"}, {"dvb4", "4800"}},
     {Slot(4)},
     "#4 '' 5/ lists remove"},
    {"ApplyBlankNameStoresTheSlotLabel",
     {},
     {Slot(3), Port("7"), Baud("460800"), Name("   "), Press(F::kApply)},
     "#3 'Modem #3' 7/460800 lists apply remove",
     {{"dvp3", "7"}, {"dvb3", "460800"}, {"dvn3", "Modem #3"}}},
    // The name field holds twenty characters, not bytes.
    {"ApplyKeepsALeadingBlankButShowsItTrimmed",
     {},
     {Slot(2), Port("25"), Baud("256000"), Name(" Ünal ÄÖÜ äöü ßéè çñ øå"), Press(F::kApply)},
     "#2 'Ünal ÄÖÜ äöü ßéè çñ' 25/256000 lists apply remove",
     {{"dvp2", "25"}, {"dvb2", "256000"}, {"dvn2", " Ünal ÄÖÜ äöü ßéè çñ"}}},
    {"ApplyOverStoredValues",
     kSlot1,
     {Slot(1), Port("4"), Baud("2400"), Press(F::kApply)},
     "#1 'Front desk' 4/2400 lists apply remove",
     {{"dvp1", "4"}, {"dvb1", "2400"}, {"dvn1", "Front desk"}}},
    {"RemoveDeletesAllThreeAndKeepsTheSlot",
     kSlot1,
     {Slot(1), Press(F::kRemove)},
     "#1 '' / lists",
     {{"dvp1", std::nullopt}, {"dvb1", std::nullopt}, {"dvn1", std::nullopt}}},
    {"FailingStoreShowsTheOldValuesAgain",
     kSlot1,
     {Slot(1), Port("8"), Baud("9600"), Name("New"), Press(F::kApply)},
     "#1 'Front desk' 3/115200 lists apply remove",
     {},
     true},
    {"FailingStoreRemoveLeavesTheSlotConfigured",
     kSlot1,
     {Slot(1), Press(F::kRemove)},
     "#1 'Front desk' 3/115200 lists apply remove",
     {},
     true},
};

INSTANTIATE_TEST_SUITE_P(Dialog, FrmSettingScenario, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return info.param.name;
                         });

// Remove deletes from the slot's own section, and makes none where there was none.
TEST(FrmSettingTest, PerUserCopyFollowsApplyAndRemove) {
  MemoryRegistry registry;
  RegistryUserSettings user(registry);
  user.SaveSetting("Velmoria", "Tarvex v4.0 - Modem #1", "Port", "6");  // another slot's copy
  registry.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvp3", "3");
  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : {Slot(2), Port("3"), Baud("115200"), Press(F::kApply)}) step(form);
  const auto copy = [&](const char* slot, const char* key) {
    return registry.Get(kRegCurrentUser, kUserSection + slot, key);
  };
  EXPECT_EQ(copy("2", "Port"), Sz("3"));
  EXPECT_EQ(copy("2", "BaudRate"), Sz("115200"));
  Press(F::kRemove)(form);
  EXPECT_EQ(copy("2", "Port"), std::nullopt);
  EXPECT_EQ(copy("2", "BaudRate"), std::nullopt);
  EXPECT_EQ(copy("1", "Port"), Sz("6"));
  for (const Step& step : {Slot(3), Press(F::kRemove)}) step(form);
  EXPECT_FALSE(registry.KeyExists(kRegCurrentUser, kUserSection + "3"));
}

// What the toolkit would refuse the model refuses too, and stores nothing.
TEST(FrmSettingTest, DisabledOrMissingChoicesAreRefused) {
  MemoryRegistry registry;
  RegistryUserSettings user(registry);
  frmSetting form(registry, user);
  form.Form_Load();
  // Without a slot the lists, Apply and Remove are disabled.
  EXPECT_FALSE(form.SelectCommPort(0) || form.Press(F::kApply) || form.Press(F::kRemove));
  ASSERT_TRUE(form.SelectModemID(0));
  // No fifth slot, no clearing the slot list, no twenty-sixth port.
  EXPECT_FALSE(form.SelectModemID(4) || form.SelectModemID(-1) || form.SelectCommPort(25));
  EXPECT_EQ(form.SelectedSlot(), 1);
  EXPECT_EQ(registry.Writes(), 0);
}

}  // namespace
}  // namespace tarvex

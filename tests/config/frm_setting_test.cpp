// The settings dialog's model, driven as a user would, over the in-memory
// registry and per-user store: each scenario starts from what is stored, runs
// a few user steps after Form_Load and compares what the user sees and what
// the store holds.  Then the terminal face's grid and keys over the same model.
#include "config/frm_setting.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tarvex/mdl_public.h"
#include "testing/memory_registry.h"
#include "testing/memory_user_settings.h"
#include "ui/settings_keys.h"
#include "ui/settings_layout.h"
#include "ui/settings_tui.h"

namespace tarvex {
namespace {

using testing::MemoryRegistry;
using testing::MemoryUserSettings;
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

// The text of a stored value, which must be REG_SZ; nullopt when missing.
std::optional<std::string> Stored(const MemoryRegistry& r, const std::string& value) {
  const auto v = r.Get(kRegLocalMachine, KeyOf(value), value);
  if (!v) return std::nullopt;
  EXPECT_EQ(v->type, kRegSz) << value;
  std::string text(v->bytes.begin(), v->bytes.end());
  EXPECT_TRUE(text.ends_with('\0')) << value << " lacks its terminating NUL";
  return text.substr(0, text.find('\0'));
}

using Values = std::map<std::string, std::optional<std::string>>;

struct Scenario {
  std::string name;
  std::map<std::string, std::string> stored;  // before the dialog opens
  std::vector<Step> steps;
  std::string view;
  Values after;  // changed values (nullopt: deleted); the rest must be as stored
  bool fail_writes = false;
};

class FrmSettingScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(FrmSettingScenario, ShowsAndStoresWhatTheUserExpects) {
  const Scenario& s = GetParam();
  MemoryRegistry registry;
  MemoryUserSettings user;
  for (const auto& [value, text] : s.stored) {
    registry.PutString(kRegLocalMachine, KeyOf(value), value, text);
  }
  registry.SetFailWrites(s.fail_writes);
  user.SetFail(s.fail_writes);

  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : s.steps) {
    step(form);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_EQ(Look(form), s.view);
  Values expected(s.stored.begin(), s.stored.end());
  for (const auto& [value, text] : s.after) expected[value] = text;
  for (const auto& [value, text] : expected) EXPECT_EQ(Stored(registry, value), text) << value;
  EXPECT_EQ(registry.OpenHandles(), 0);
}

const std::map<std::string, std::string> kSlot1 = {
    {"dvp1", "3"}, {"dvb1", "115200"}, {"dvn1", "  Front desk "}};
const Values kSlot1Deleted = {
    {"dvp1", std::nullopt}, {"dvb1", std::nullopt}, {"dvn1", std::nullopt}};

INSTANTIATE_TEST_SUITE_P(
    Dialog, FrmSettingScenario,
    ::testing::Values(Scenario{"Opening", kSlot1, {}, "#0 '' / -", {}},
                      Scenario{"FullyStoredSlotShowsTrimmedName",
                               kSlot1,
                               {Slot(1)},
                               "#1 'Front desk' 3/115200 lists apply remove",
                               {}},
                      Scenario{"SwitchingToAnEmptySlotClearsTheSelections",
                               kSlot1,
                               {Slot(1), Slot(2)},
                               "#2 '' / lists",
                               {}},
                      Scenario{"PortOutsideTheListLeavesRemoveDisabled",
                               {{"dvp1", "COM3"}, {"dvb1", "9600"}},
                               {Slot(1)},
                               "#1 '' /9600 lists",
                               {}},
                      Scenario{"BaudOutsideTheListMustBePickedAgain",
                               {{"dvp4", "5"}, {"dvb4", "4800"}},
                               {Slot(4)},
                               "#4 '' 5/ lists remove",
                               {}},
                      Scenario{"BaudPickedAfterAnUnlistedOne",
                               {{"dvp4", "5"}, {"dvb4", "4800"}},
                               {Slot(4), Baud("9600")},
                               "#4 '' 5/9600 lists apply remove",
                               {}},
                      Scenario{"ApplyBlankNameStoresTheSlotLabel",
                               {},
                               {Slot(3), Port("7"), Baud("460800"), Name("   "), Press(F::kApply)},
                               "#3 'Modem #3' 7/460800 lists apply remove",
                               {{"dvp3", "7"}, {"dvb3", "460800"}, {"dvn3", "Modem #3"}}},
                      // The name field holds twenty characters, not bytes.
                      Scenario{
                          "ApplyKeepsALeadingBlankButShowsItTrimmed",
                          {},
                          {Slot(2), Port("25"), Baud("256000"), Name(" Ünal ÄÖÜ äöü ßéè çñ øå"),
                           Press(F::kApply)},
                          "#2 'Ünal ÄÖÜ äöü ßéè çñ' 25/256000 lists apply remove",
                          {{"dvp2", "25"}, {"dvb2", "256000"}, {"dvn2", " Ünal ÄÖÜ äöü ßéè çñ"}}},
                      Scenario{"ApplyOverStoredValues",
                               kSlot1,
                               {Slot(1), Port("4"), Baud("2400"), Press(F::kApply)},
                               "#1 'Front desk' 4/2400 lists apply remove",
                               {{"dvp1", "4"}, {"dvb1", "2400"}, {"dvn1", "Front desk"}}},
                      Scenario{"RemoveDeletesAllThreeAndKeepsTheSlot",
                               kSlot1,
                               {Slot(1), Press(F::kRemove)},
                               "#1 '' / lists",
                               kSlot1Deleted},
                      Scenario{"RemoveOfAPartlyStoredSlot",
                               {{"dvp2", "2"}},
                               {Slot(2), Press(F::kRemove)},
                               "#2 '' / lists",
                               {{"dvp2", std::nullopt}}},
                      Scenario{"CloseSavesNothingUnapplied",
                               kSlot1,
                               {Slot(1), Port("9"), Name("Changed"), Press(F::kClose)},
                               "#1 'Changed' 9/115200 lists apply remove",
                               {}},
                      Scenario{"FailingStoreShowsTheOldValuesAgain",
                               kSlot1,
                               {Slot(1), Port("8"), Baud("9600"), Name("New"), Press(F::kApply)},
                               "#1 'Front desk' 3/115200 lists apply remove",
                               {},
                               true},
                      Scenario{"FailingStoreRemoveLeavesTheSlotConfigured",
                               kSlot1,
                               {Slot(1), Press(F::kRemove)},
                               "#1 'Front desk' 3/115200 lists apply remove",
                               {},
                               true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(FrmSettingTest, PerUserCopyFollowsApplyAndRemove) {
  MemoryRegistry registry;
  MemoryUserSettings user;
  const std::string app = "Velmoria", slot1 = "Tarvex v4.0 - Modem #1",
                    slot2 = "Tarvex v4.0 - Modem #2";
  user.SaveSetting(app, slot1, "Port", "6");  // another slot's copy
  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : {Slot(2), Port("3"), Baud("115200"), Press(F::kApply)}) step(form);
  EXPECT_EQ(user.Get(app, slot2, "Port"), "3");
  EXPECT_EQ(user.Get(app, slot2, "BaudRate"), "115200");
  EXPECT_EQ(user.entries().size(), 3u);

  Press(F::kRemove)(form);
  EXPECT_EQ(user.Get(app, slot2, "Port"), std::nullopt);
  EXPECT_EQ(user.Get(app, slot2, "BaudRate"), std::nullopt);
  EXPECT_EQ(user.Get(app, slot1, "Port"), "6");
}

TEST(FrmSettingTest, WhatTheToolkitWouldRefuse) {
  MemoryRegistry registry;
  MemoryUserSettings user;
  frmSetting form(registry, user);
  form.Form_Load();
  EXPECT_FALSE(form.SelectCommPort(0));  // lists disabled without a slot
  EXPECT_FALSE(form.Press(F::kApply));
  EXPECT_FALSE(form.Press(F::kRemove));
  EXPECT_FALSE(form.SelectModemID(4));
  ASSERT_TRUE(form.SelectModemID(0));
  EXPECT_FALSE(form.SelectModemID(-1));  // the slot list cannot be cleared
  EXPECT_EQ(form.SelectedSlot(), 1);
  EXPECT_FALSE(form.SelectCommPort(25));
  EXPECT_EQ(registry.Writes(), 0);
  EXPECT_TRUE(form.Press(F::kClose));
  EXPECT_TRUE(form.Unloaded());
}

}  // namespace
}  // namespace tarvex

namespace tarvex::ui {
namespace {

bool Overlap(const CellBox& a, const CellBox& b) {
  return a.row < b.row + b.rows && b.row < a.row + a.rows && a.col < b.col + b.cols &&
         b.col < a.col + a.cols;
}

TEST(SettingsLayoutTest, FitsTheMinimumTerminalWithoutCollisions) {
  const DialogLayout& layout = SettingsDialogLayout();
  EXPECT_LE(layout.cols, kMinColumns);
  EXPECT_LE(layout.rows + 2, kMinRows);  // the state and key-help lines below
  const CellBox& frame = layout.Box(ControlId::kFrame1);
  std::vector<std::pair<const ControlInfo*, CellBox>> inner;
  for (const ControlInfo& c : frmSetting::Controls()) {
    SCOPED_TRACE(std::string(c.name) + "(" + std::to_string(c.index) + ")");
    CellBox box = layout.Box(c.id);
    // A label needs room for its caption, not its nominal width.
    if (c.kind == ControlKind::kLabel) box.cols = static_cast<int>(c.caption.size());
    EXPECT_GE(box.cols, 1);
    EXPECT_TRUE(box.row >= 1 && box.row + box.rows <= layout.rows - 1);
    EXPECT_TRUE(box.col >= 1 && box.col + box.cols <= layout.cols - 1);
    if (c.in_frame) {
      EXPECT_TRUE(box.row > frame.row && box.row + box.rows < frame.row + frame.rows);
      EXPECT_TRUE(box.col > frame.col && box.col + box.cols < frame.col + frame.cols);
    }
    if (c.kind == ControlKind::kFrame) continue;
    for (const auto& [other, other_box] : inner) {
      EXPECT_FALSE(Overlap(box, other_box)) << "overlaps " << other->name;
    }
    inner.emplace_back(&c, box);
  }
  // Each label shares the row of the control it names.
  using enum ControlId;
  const std::pair<ControlId, ControlId> pairs[] = {{kLabelConnectionId, kCboModemID},
                                                   {kLabelDeviceName, kTxtDeviceName},
                                                   {kLabelPortAvailable, kCboCommPort},
                                                   {kLabel4, kCboBaudRate}};
  for (const auto& [label, control] : pairs) {
    EXPECT_EQ(layout.Box(label).row, layout.Box(control).row);
  }
}

class SettingsKeysTest : public ::testing::Test {
 protected:
  SettingsKeysTest() {
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvp1", "3");
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvb1", "115200");
    form_.Form_Load();
  }

  // Keys written as words ("Tab", "M-a" for Alt+a...), or UTF-8 text typed a
  // character at a time, as the terminal delivers it.
  void Feed(std::initializer_list<std::string> keys) {
    static const std::map<std::string, Key::Type> kNamed = {
        {"Tab", Key::kTab},    {"S-Tab", Key::kBackTab}, {"Enter", Key::kEnter},
        {"Esc", Key::kEscape}, {"Up", Key::kUp},         {"Down", Key::kDown},
        {"End", Key::kEnd},    {"BS", Key::kBackspace},  {"Left", Key::kLeft},
        {"Del", Key::kDelete}};
    for (const std::string& k : keys) {
      if (auto it = kNamed.find(k); it != kNamed.end()) {
        keys_.Handle({it->second});
      } else if (k.starts_with("M-")) {
        keys_.Handle({Key::kAlt, static_cast<char32_t>(k[2])});
      } else {
        for (size_t i = 0; i < k.size();) {
          const auto lead = static_cast<unsigned char>(k[i]);
          const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
          char32_t c = n == 1 ? lead : lead & (0x7F >> n);
          for (size_t j = 1; j < n; ++j) c = (c << 6) | (k[i + j] & 0x3F);
          keys_.Handle({Key::kChar, c});
          i += n;
        }
      }
    }
  }

  testing::MemoryRegistry registry_;
  testing::MemoryUserSettings user_;
  frmSetting form_{registry_, user_};
  SettingsKeys keys_{form_};
};

TEST_F(SettingsKeysTest, TabSkipsDisabledControlsBothWays) {
  using enum ControlId;
  const struct {
    std::initializer_list<std::string> keys;
    ControlId focus;
  } steps[] = {
      {{}, kCboModemID},
      {{"Tab"}, kTxtDeviceName},
      {{"Tab"}, kCmdClose},  // lists and Apply, Remove are disabled without a slot
      {{"Tab"}, kCboModemID},
      {{"S-Tab"}, kCmdClose},
      {{"S-Tab"}, kTxtDeviceName},
      {{"S-Tab", " ", "Enter"}, kCboModemID},  // slot 1 is stored: everything usable
      {{"Tab", "Tab", "Tab", "Tab", "Tab"}, kCmdRemove},
      {{"Tab", "Tab"}, kCboModemID},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    Feed(steps[i].keys);
    EXPECT_EQ(keys_.focus(), steps[i].focus);
  }
  EXPECT_EQ(form_.SelectedSlot(), 1);
}

TEST_F(SettingsKeysTest, DropDownPicksOnEnterAndCancelsOnEsc) {
  Feed({"Enter", "Down", "Esc"});
  EXPECT_FALSE(keys_.ListOpen());
  EXPECT_EQ(form_.SelectedSlot(), 0);
  EXPECT_FALSE(form_.Unloaded());  // Esc closed the list, not the dialog

  Feed({"Enter", "End", "Enter"});
  EXPECT_EQ(form_.SelectedSlot(), 4);
  Feed({"Up", "Up", "Up"});  // a closed list changes its selection directly
  EXPECT_EQ(form_.SelectedSlot(), 1);
  EXPECT_EQ(form_.cboCommPort().Text(), "3");

  Feed({"Tab", "Tab", "Enter", "End"});  // the port list scrolls to its end
  EXPECT_EQ(keys_.Highlight(), 24);
  EXPECT_EQ(keys_.ScrollTop(), 25 - SettingsKeys::kDropDownRows);
  Feed({"Enter"});
  EXPECT_EQ(form_.cboCommPort().Text(), "25");
}

TEST_F(SettingsKeysTest, LettersTypeInTheNameFieldAndPressButtonsElsewhere) {
  Feed({"Enter", "Enter", "Tab"});  // slot 1, then the name field
  ASSERT_EQ(keys_.focus(), ControlId::kTxtDeviceName);
  Feed({"cär", "BS", "t"});
  EXPECT_EQ(form_.txtDeviceName(), "cät");
  EXPECT_FALSE(form_.Unloaded());  // 'c' typed, not Close
  // The cursor steps over, and Delete removes, a whole character.
  Feed({"Left", "Left", "Del", "ö", "End"});
  EXPECT_EQ(form_.txtDeviceName(), "cöt");
  EXPECT_FALSE(keys_.Handle({Key::kChar, char32_t{0x85}}));  // a C1 control
  // Twenty characters fill the field; they are twenty-one bytes.
  Feed({"abcdefghijklmnopqrstuvwxyz"});
  EXPECT_EQ(form_.txtDeviceName(), "cötabcdefghijklmnopq");
  EXPECT_EQ(keys_.Cursor(), 21u);

  Feed({"M-a"});  // Alt works from the name field
  EXPECT_EQ(keys_.focus(), ControlId::kCmdApply);
  EXPECT_EQ(user_.Get("Velmoria", "Tarvex v4.0 - Modem #1", "Port"), "3");

  Feed({"r"});  // Remove; its button then goes disabled and the focus moves on
  EXPECT_FALSE(form_.RemoveEnabled());
  EXPECT_EQ(keys_.focus(), ControlId::kCmdClose);
  EXPECT_FALSE(keys_.Handle({Key::kChar, 'a'}));  // Apply is disabled now
  Feed({"c"});
  EXPECT_TRUE(form_.Unloaded());
}

}  // namespace
}  // namespace tarvex::ui

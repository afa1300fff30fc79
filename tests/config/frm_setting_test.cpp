// The settings dialog's model, driven as a user would, over the in-memory
// registry and per-user store.  Each scenario starts from what is stored,
// runs a few user steps after Form_Load and compares the dialog's visible
// state and the store with what the user should see.
#include "config/frm_setting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "config/mdl_public.h"
#include "testing/memory_registry.h"
#include "testing/memory_user_settings.h"
#include "ui/settings_keys.h"
#include "ui/settings_layout.h"
#include "ui/settings_tui.h"

namespace tarvex {
namespace {

using testing::MemoryRegistry;
using testing::MemoryUserSettings;

// What the user sees: the slot, the name field, the texts of the port and
// baud selections ("" for none) and the enabled flags.
struct View {
  int16_t slot = 0;
  std::string name;
  std::string port;
  std::string baud;
  bool lists_enabled = false;
  bool apply = false;
  bool remove = false;
  bool operator==(const View&) const = default;
};

std::ostream& operator<<(std::ostream& os, const View& v) {
  return os << "{slot " << v.slot << ", name '" << v.name << "', port '" << v.port << "', baud '"
            << v.baud << "', lists " << (v.lists_enabled ? "on" : "off") << ", apply "
            << (v.apply ? "on" : "off") << ", remove " << (v.remove ? "on" : "off") << "}";
}

View Look(const frmSetting& f) {
  EXPECT_EQ(f.cboCommPort().enabled, f.cboBaudRate().enabled);
  return {f.SelectedSlot(),       f.txtDeviceName(),       f.cboCommPort().Text(),
          f.cboBaudRate().Text(), f.cboCommPort().enabled, f.ApplyEnabled(),
          f.RemoveEnabled()};
}

using Step = std::function<void(frmSetting&)>;

Step Slot(int n) {
  return [n](frmSetting& f) { ASSERT_TRUE(f.SelectModemID(n - 1)) << "slot " << n; };
}
Step Port(std::string text) {
  return [text](frmSetting& f) {
    ASSERT_TRUE(f.SelectCommPort(f.cboCommPort().Find(text))) << "port " << text;
  };
}
Step Baud(std::string text) {
  return [text](frmSetting& f) {
    ASSERT_TRUE(f.SelectBaudRate(f.cboBaudRate().Find(text))) << "baud " << text;
  };
}
Step Name(std::string text) {
  return [text](frmSetting& f) { f.SetDeviceName(text); };
}
Step Press(int16_t index) {
  return [index](frmSetting& f) { ASSERT_TRUE(f.Press(index)) << "button " << index; };
}

void Store(MemoryRegistry& r, const std::string& value, const std::string& text) {
  const char* key = value.starts_with("dvn") ? mdlPublic::kDeviceNameKey : mdlPublic::kRouteKey;
  r.PutString(kRegLocalMachine, key, value, text);
}

// The text of a stored value, which must be REG_SZ; nullopt when missing.
std::optional<std::string> Stored(const MemoryRegistry& r, const std::string& value) {
  const char* key = value.starts_with("dvn") ? mdlPublic::kDeviceNameKey : mdlPublic::kRouteKey;
  const auto v = r.Get(kRegLocalMachine, key, value);
  if (!v) return std::nullopt;
  EXPECT_EQ(v->type, kRegSz) << value;
  std::string text(v->bytes.begin(), v->bytes.end());
  EXPECT_TRUE(text.ends_with('\0')) << value << " lacks its terminating NUL";
  return text.substr(0, text.find('\0'));
}

struct Scenario {
  std::string name;
  std::map<std::string, std::string> stored;  // value name -> text, before the dialog opens
  std::vector<Step> steps;
  View view;
  // value name -> text afterwards (nullopt: must be missing); values not
  // listed must be as they were stored.
  std::map<std::string, std::optional<std::string>> after;
  bool fail_writes = false;
};

class FrmSettingScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(FrmSettingScenario, ShowsAndStoresWhatTheUserExpects) {
  const Scenario& s = GetParam();
  MemoryRegistry registry;
  MemoryUserSettings user;
  for (const auto& [value, text] : s.stored) Store(registry, value, text);
  registry.SetFailWrites(s.fail_writes);
  user.SetFail(s.fail_writes);

  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : s.steps) {
    step(form);
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_EQ(Look(form), s.view);

  std::map<std::string, std::optional<std::string>> expected;
  for (const auto& [value, text] : s.stored) expected[value] = text;
  for (const auto& [value, text] : s.after) expected[value] = text;
  for (const auto& [value, text] : expected) EXPECT_EQ(Stored(registry, value), text) << value;
  EXPECT_EQ(registry.OpenHandles(), 0);
}

const std::map<std::string, std::string> kSlot1Stored = {
    {"dvp1", "3"}, {"dvb1", "115200"}, {"dvn1", "  Front desk "}};

using F = frmSetting;

INSTANTIATE_TEST_SUITE_P(
    Dialog, FrmSettingScenario,
    ::testing::Values(
        Scenario{"Opening", kSlot1Stored, {}, {0, "", "", "", false, false, false}, {}},
        Scenario{"EmptySlot", kSlot1Stored, {Slot(2)}, {2, "", "", "", true, false, false}, {}},
        Scenario{"FullyStoredSlotShowsTrimmedName",
                 kSlot1Stored,
                 {Slot(1)},
                 {1, "Front desk", "3", "115200", true, true, true},
                 {}},
        Scenario{"SwitchingToAnEmptySlotClearsTheSelections",
                 kSlot1Stored,
                 {Slot(1), Slot(2)},
                 {2, "", "", "", true, false, false},
                 {}},
        Scenario{"PortOutsideTheListLeavesRemoveDisabled",
                 {{"dvp1", "COM3"}, {"dvb1", "9600"}},
                 {Slot(1)},
                 {1, "", "", "9600", true, false, false},
                 {}},
        Scenario{"BaudOutsideTheListMustBePickedAgain",
                 {{"dvp4", "5"}, {"dvb4", "4800"}},
                 {Slot(4)},
                 {4, "", "5", "", true, false, true},
                 {}},
        Scenario{"BaudPickedAfterAnUnlistedOne",
                 {{"dvp4", "5"}, {"dvb4", "4800"}},
                 {Slot(4), Baud("9600")},
                 {4, "", "5", "9600", true, true, true},
                 {}},
        Scenario{"ApplyBlankNameStoresTheSlotLabel",
                 {},
                 {Slot(3), Port("7"), Baud("460800"), Name("   "), Press(F::kApply)},
                 {3, "Modem #3", "7", "460800", true, true, true},
                 {{"dvp3", "7"}, {"dvb3", "460800"}, {"dvn3", "Modem #3"}}},
        Scenario{"ApplyKeepsALeadingBlankButShowsItTrimmed",
                 {},
                 {Slot(2), Port("25"), Baud("256000"), Name(" Lab"), Press(F::kApply)},
                 {2, "Lab", "25", "256000", true, true, true},
                 {{"dvp2", "25"}, {"dvb2", "256000"}, {"dvn2", " Lab"}}},
        Scenario{"ApplyOverStoredValues",
                 kSlot1Stored,
                 {Slot(1), Port("4"), Baud("2400"), Press(F::kApply)},
                 {1, "Front desk", "4", "2400", true, true, true},
                 {{"dvp1", "4"}, {"dvb1", "2400"}, {"dvn1", "Front desk"}}},
        Scenario{
            "ApplyTwiceChangesNothingMore",
            {},
            {Slot(1), Port("3"), Baud("115200"), Name("GSM"), Press(F::kApply), Press(F::kApply)},
            {1, "GSM", "3", "115200", true, true, true},
            {{"dvp1", "3"}, {"dvb1", "115200"}, {"dvn1", "GSM"}}},
        Scenario{"RemoveDeletesAllThreeAndKeepsTheSlot",
                 kSlot1Stored,
                 {Slot(1), Press(F::kRemove)},
                 {1, "", "", "", true, false, false},
                 {{"dvp1", std::nullopt}, {"dvb1", std::nullopt}, {"dvn1", std::nullopt}}},
        Scenario{"RemoveThenReselect",
                 kSlot1Stored,
                 {Slot(1), Press(F::kRemove), Slot(2), Slot(1)},
                 {1, "", "", "", true, false, false},
                 {{"dvp1", std::nullopt}, {"dvb1", std::nullopt}, {"dvn1", std::nullopt}}},
        Scenario{"RemoveOfAPartlyStoredSlot",
                 {{"dvp2", "2"}},
                 {Slot(2), Press(F::kRemove)},
                 {2, "", "", "", true, false, false},
                 {{"dvp2", std::nullopt}}},
        Scenario{"CloseSavesNothingUnapplied",
                 kSlot1Stored,
                 {Slot(1), Port("9"), Name("Changed"), Press(F::kClose)},
                 {1, "Changed", "9", "115200", true, true, true},
                 {}},
        Scenario{"FailingStoreOnAnEmptySlotShowsNothingStored",
                 {},
                 {Slot(1), Port("3"), Baud("115200"), Name("GSM"), Press(F::kApply)},
                 {1, "", "", "", true, false, false},
                 {{"dvp1", std::nullopt}, {"dvb1", std::nullopt}, {"dvn1", std::nullopt}},
                 true},
        Scenario{"FailingStoreShowsTheOldValuesAgain",
                 kSlot1Stored,
                 {Slot(1), Port("8"), Baud("9600"), Name("New"), Press(F::kApply)},
                 {1, "Front desk", "3", "115200", true, true, true},
                 {},
                 true},
        Scenario{"FailingStoreRemoveLeavesTheSlotConfigured",
                 kSlot1Stored,
                 {Slot(1), Press(F::kRemove)},
                 {1, "Front desk", "3", "115200", true, true, true},
                 {},
                 true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(FrmSettingTest, PortStoredAsANumberIsFound) {
  // A host may write the port with SaveStringLong; the lookup reads it back as
  // decimal text, which the list then finds.
  MemoryRegistry registry;
  MemoryUserSettings user;
  registry.Put(kRegLocalMachine, mdlPublic::kRouteKey, "dvp2", kRegBinary, {3, 0, 0, 0});
  frmSetting form(registry, user);
  form.Form_Load();
  ASSERT_TRUE(form.SelectModemID(1));
  EXPECT_EQ(form.cboCommPort().Text(), "3");
  EXPECT_TRUE(form.RemoveEnabled());
}

TEST(FrmSettingTest, PerUserCopyFollowsApplyAndRemove) {
  MemoryRegistry registry;
  MemoryUserSettings user;
  user.SaveSetting("Velmoria", "Tarvex v4.0 - Modem #1", "Port", "6");  // another slot's copy
  frmSetting form(registry, user);
  form.Form_Load();
  for (const Step& step : {Slot(2), Port("3"), Baud("115200"), Press(F::kApply)}) step(form);
  EXPECT_EQ(user.Get("Velmoria", "Tarvex v4.0 - Modem #2", "Port"), "3");
  EXPECT_EQ(user.Get("Velmoria", "Tarvex v4.0 - Modem #2", "BaudRate"), "115200");
  EXPECT_EQ(user.entries().size(), 3u);

  Press(F::kRemove)(form);
  EXPECT_EQ(user.Get("Velmoria", "Tarvex v4.0 - Modem #2", "Port"), std::nullopt);
  EXPECT_EQ(user.Get("Velmoria", "Tarvex v4.0 - Modem #2", "BaudRate"), std::nullopt);
  EXPECT_EQ(user.Get("Velmoria", "Tarvex v4.0 - Modem #1", "Port"), "6");
}

TEST(FrmSettingTest, WhatTheToolkitWouldRefuse) {
  MemoryRegistry registry;
  MemoryUserSettings user;
  frmSetting form(registry, user);
  form.Form_Load();
  EXPECT_TRUE(form.cboCommPort().entries.empty());  // filled only for a slot
  EXPECT_FALSE(form.SelectCommPort(0));             // lists disabled without a slot
  EXPECT_FALSE(form.SelectBaudRate(0));
  EXPECT_FALSE(form.Press(F::kApply));
  EXPECT_FALSE(form.Press(F::kRemove));
  EXPECT_FALSE(form.SelectModemID(4));
  EXPECT_FALSE(form.SelectModemID(-1));
  ASSERT_TRUE(form.SelectModemID(0));
  EXPECT_FALSE(form.SelectModemID(-1));  // the slot list cannot be cleared
  EXPECT_EQ(form.SelectedSlot(), 1);
  EXPECT_FALSE(form.SelectCommPort(25));
  EXPECT_EQ(form.cboCommPort().entries.size(), 25u);
  EXPECT_EQ(registry.Writes(), 0);
  EXPECT_FALSE(form.Unloaded());
  EXPECT_TRUE(form.Press(F::kClose));
  EXPECT_TRUE(form.Unloaded());
}

TEST(FrmSettingTest, NameFieldHoldsAtMostTwentyCharacters) {
  MemoryRegistry registry;
  MemoryUserSettings user;
  frmSetting form(registry, user);
  const struct {
    std::string typed, kept;
  } cases[] = {
      {"12345678901234567890", "12345678901234567890"},
      {"123456789012345678901", "12345678901234567890"},
      {"Ünal ÄÖÜ äöü ßéè çñ øå", "Ünal ÄÖÜ äöü ßéè çñ "},  // characters, not bytes
      {"", ""},
  };
  for (const auto& c : cases) {
    form.SetDeviceName(c.typed);
    EXPECT_EQ(form.txtDeviceName(), c.kept) << c.typed;
  }
}

TEST(FrmSettingLayoutTest, TabOrderVisitsEveryUsableControl) {
  using enum ControlId;
  EXPECT_EQ(frmSetting::TabOrder(),
            (std::vector<ControlId>{kCboModemID, kTxtDeviceName, kCboCommPort, kCboBaudRate,
                                    kCmdApply, kCmdRemove, kCmdClose}));
}

TEST(FrmSettingLayoutTest, TableIsConsistent) {
  const ControlInfo& frame = frmSetting::Control(ControlId::kFrame1);
  std::vector<int> tab_indices;
  int position = 0;
  for (const ControlInfo& c : frmSetting::Controls()) {
    SCOPED_TRACE(std::string(c.name) + "(" + std::to_string(c.index) + ")");
    EXPECT_EQ(static_cast<int>(c.id), position++);  // Control(id) indexes the table
    tab_indices.push_back(c.tab_index);
    // The access key is the letter after "&".
    const size_t amp = c.caption.find('&');
    EXPECT_EQ(c.access_key, amp == std::string_view::npos ? 0 : c.caption[amp + 1]);
    // Everything lies inside its container.
    const int right = c.left + c.width, bottom = c.top + c.height;
    if (c.in_frame) {
      EXPECT_LE(right, frame.width);
      EXPECT_LE(bottom, frame.height);
    } else {
      EXPECT_LE(right, frmSetting::kClientWidth);
      EXPECT_LE(bottom, frmSetting::kClientHeight);
    }
  }
  std::sort(tab_indices.begin(), tab_indices.end());
  for (int i = 0; i < kControlCount; ++i) EXPECT_EQ(tab_indices[i], i);
}

}  // namespace
}  // namespace tarvex

// ---------------------------------------------------------------------------
// The terminal face's grid and keys, which the config tests link as well.

namespace tarvex::ui {
namespace {

using testing::MemoryRegistry;
using testing::MemoryUserSettings;

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
    EXPECT_GE(box.row, 1);
    EXPECT_LE(box.row + box.rows, layout.rows - 1);
    EXPECT_GE(box.col, 1);
    EXPECT_LE(box.col + box.cols, layout.cols - 1);
    if (c.in_frame) {
      EXPECT_GT(box.row, frame.row);
      EXPECT_LT(box.row + box.rows, frame.row + frame.rows);
      EXPECT_GT(box.col, frame.col);
      EXPECT_LT(box.col + box.cols, frame.col + frame.cols);
    }
    if (c.kind != ControlKind::kFrame) {
      for (const auto& [other, other_box] : inner) {
        EXPECT_FALSE(Overlap(box, other_box)) << "overlaps " << other->name;
      }
      inner.emplace_back(&c, box);
    }
  }
  // Each label shares the row of the control it names.
  const std::pair<ControlId, ControlId> pairs[] = {
      {ControlId::kLabelConnectionId, ControlId::kCboModemID},
      {ControlId::kLabelDeviceName, ControlId::kTxtDeviceName},
      {ControlId::kLabelPortAvailable, ControlId::kCboCommPort},
      {ControlId::kLabel4, ControlId::kCboBaudRate}};
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

  // Feeds keys written as words: "Tab", "S-Tab", "Enter", "Esc", "Up",
  // "Down", "End", "BS", "M-a" (Alt), or text typed character by character.
  void Feed(std::initializer_list<std::string> keys) {
    for (const std::string& k : keys) {
      if (k == "Tab")
        keys_.Handle({Key::kTab});
      else if (k == "S-Tab")
        keys_.Handle({Key::kBackTab});
      else if (k == "Enter")
        keys_.Handle({Key::kEnter});
      else if (k == "Esc")
        keys_.Handle({Key::kEscape});
      else if (k == "Up")
        keys_.Handle({Key::kUp});
      else if (k == "Down")
        keys_.Handle({Key::kDown});
      else if (k == "End")
        keys_.Handle({Key::kEnd});
      else if (k == "BS")
        keys_.Handle({Key::kBackspace});
      else if (k.starts_with("M-"))
        keys_.Handle({Key::kAlt, k[2]});
      else
        for (char c : k) keys_.Handle({Key::kChar, c});
    }
  }

  MemoryRegistry registry_;
  MemoryUserSettings user_;
  frmSetting form_{registry_, user_};
  SettingsKeys keys_{form_};
};

TEST_F(SettingsKeysTest, TabSkipsDisabledControlsBothWays) {
  using enum ControlId;
  struct {
    std::initializer_list<std::string> keys;
    ControlId focus;
  } cases[] = {
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
  for (const auto& c : cases) {
    Feed(c.keys);
    EXPECT_EQ(keys_.focus(), c.focus);
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
  Feed({"car", "BS", "t"});
  EXPECT_EQ(form_.txtDeviceName(), "cat");
  EXPECT_FALSE(form_.Unloaded());  // 'c' typed, not Close

  Feed({"M-a"});  // Alt works from the name field
  EXPECT_EQ(keys_.focus(), ControlId::kCmdApply);
  EXPECT_EQ(form_.cboCommPort().Text(), "3");
  EXPECT_EQ(user_.Get("Velmoria", "Tarvex v4.0 - Modem #1", "Port"), "3");

  Feed({"r"});  // Remove; its button then goes disabled and the focus moves on
  EXPECT_FALSE(form_.RemoveEnabled());
  EXPECT_EQ(keys_.focus(), ControlId::kCmdClose);
  EXPECT_FALSE(keys_.Handle({Key::kChar, 'a'}));  // Apply is disabled now
  Feed({"c"});
  EXPECT_TRUE(form_.Unloaded());
}

TEST_F(SettingsKeysTest, NameFieldStopsAtTwentyCharacters) {
  Feed({"Tab", "abcdefghijklmnopqrstuvwxyz"});
  EXPECT_EQ(form_.txtDeviceName(), "abcdefghijklmnopqrst");
  EXPECT_EQ(keys_.Cursor(), 20u);
}

}  // namespace
}  // namespace tarvex::ui

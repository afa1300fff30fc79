// The terminal face of the settings dialog over the frmSetting model: its grid
// fits the smallest terminal it accepts, and keys do what the Windows dialog's
// keys do (tab order, drop-downs, typing, access keys).
#include "ui/settings_tui.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "config/frm_setting.h"
#include "platform/registry_user_settings.h"
#include "tarvex/mdl_public.h"
#include "testing/memory_registry.h"
#include "ui/settings_keys.h"
#include "ui/settings_layout.h"

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
}

class SettingsKeysTest : public ::testing::Test {
 protected:
  SettingsKeysTest() {
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvp1", "3");
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvb1", "115200");
    form_.Form_Load();
  }

  // Keys written as words ("Tab", "M-a" for Alt+a...), or text typed a
  // character at a time (all of it in the BMP), as the terminal delivers it.
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
        for (const char16_t c : Utf8ToUtf16(k)) keys_.Handle({Key::kChar, c});
      }
    }
  }

  testing::MemoryRegistry registry_;
  RegistryUserSettings user_{registry_};
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
  EXPECT_GT(registry_.Writes(), 0);

  Feed({"r"});  // Remove; its button then goes disabled and the focus moves on
  EXPECT_FALSE(form_.RemoveEnabled());
  EXPECT_EQ(keys_.focus(), ControlId::kCmdClose);
  EXPECT_FALSE(keys_.Handle({Key::kChar, 'a'}));  // Apply is disabled now
  Feed({"c"});
  EXPECT_TRUE(form_.Unloaded());
}

}  // namespace
}  // namespace tarvex::ui

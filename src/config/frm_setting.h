// frmSetting: the communication settings dialog as a model, apart from any
// window toolkit.  It holds the dialog's state (three drop-down lists and
// their selections, the name field, the enabled flags) and its event handlers,
// which read the stored slot settings through mdlPublic and write them through
// TRegistry and the per-user store.  A face (the terminal one in src/ui, the
// Windows one in src/component) draws the controls of Controls() at their positions and
// turns keys into the calls below; the model never draws and never blocks.
//
// The layout (captions, kinds, positions in twips, tab order, fonts, access
// keys) is data here, so that every face draws the same dialog.
//
// Ownership: the model borrows the registry and the per-user store; both must
// outlive it.  One thread.  Failures: none are reported; a write that the store
// refuses simply has no effect, and the reload after Apply or Remove shows what
// is really stored.  Apply and Remove change a slot's three machine-wide values
// as one group of writes, so no reader and no crash sees half of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/registry_backend.h"
#include "tarvex/user_settings.h"

namespace tarvex {

enum class ControlKind { kFrame, kLabel, kDropDownList, kTextBox, kPictureBox, kCommandButton };

// Every control of the dialog, in the order of the layout table.
enum class ControlId {
  kFrame1,
  kLabelConnectionId,  // Label1(2)
  kCboModemID,
  kLabelDeviceName,  // Label1(1)
  kTxtDeviceName,
  kLabelPortAvailable,  // Label1(0)
  kCboCommPort,
  kLabel4,
  kCboBaudRate,
  kPicture1,
  kCmdApply,   // cmdCommand(0)
  kCmdRemove,  // cmdCommand(1)
  kCmdClose,   // cmdCommand(2)
};
inline constexpr int kControlCount = 13;

struct ControlFont {
  std::string_view name;
  double points;
  bool bold;
};

struct ControlInfo {
  ControlId id;
  std::string_view name;  // the control's name in the dialog ("cboModemID")
  int index;              // index in its control array, -1 when not in one
  ControlKind kind;
  std::string_view caption;  // with its "&" access marker; "" where none
  // Twips.  Controls inside the frame are placed relative to the frame.
  int left, top, width, height;
  bool in_frame;
  int tab_index;
  ControlFont font;
  char access_key;  // upper-case letter after "&" in the caption, 0 when none
  // Whether the control can take the keyboard focus at all (labels, the frame
  // and the decorative picture cannot).
  bool tab_stop;
};

class frmSetting {
 public:
  static constexpr std::string_view kCaption = "Tarvex : Communication Setting";
  static constexpr int kClientWidth = 7320;           // twips
  static constexpr int kClientHeight = 3390;          // twips
  static constexpr size_t kDeviceNameMaxLength = 20;  // characters
  static constexpr int kPictureWidthPixels = 161;
  static constexpr int kPictureHeightPixels = 57;
  static constexpr int kPortCount = 25;
  static constexpr int16_t kSlotCount = 4;

  // The per-user copy of a slot's port and baud rate.
  static constexpr const char* kUserApp = "Velmoria";
  static constexpr const char* kUserSectionPrefix = "Tarvex v4.0 - Modem #";
  static constexpr const char* kUserPortKey = "Port";
  static constexpr const char* kUserBaudRateKey = "BaudRate";

  // cmdCommand's indices.
  enum Command : int16_t { kApply = 0, kRemove = 1, kClose = 2 };

  static constexpr std::array<std::string_view, 12> kBaudRates = {
      "2400",  "9600",   "14400",  "19200",  "28800",  "38400",
      "57600", "115200", "230400", "460800", "128000", "256000"};

  // A drop-down list: entries, a selection (index or -1) and an enabled flag.
  struct ComboList {
    std::vector<std::string> entries;
    int list_index = -1;
    bool enabled = true;
    // Counts the times the list was emptied and filled again, so that a face
    // refills its own control even when the entries are the same.
    unsigned fills = 0;
    // The selected entry's text, "" when nothing is selected.
    std::string Text() const;
    // The index of the entry equal to `text`, -1 when there is none.
    int Find(std::string_view text) const;
  };

  frmSetting(RegistryBackend& registry, UserSettings& user_settings);

  // The layout, in table order, and the controls that take focus in tab order.
  static std::span<const ControlInfo> Controls();
  static const ControlInfo& Control(ControlId id);
  static std::vector<ControlId> TabOrder();

  // --- Event handlers, as the toolkit raises them. ---
  void Form_Load();
  void cboModemID_Click();
  void cboCommPort_Click();
  void cboBaudRate_Click();
  // Runs the action of button Index whether or not it is enabled, as the
  // handler itself does; an Apply or Remove without a selected slot, and an
  // unknown index, do nothing.  Faces use Press() instead.
  void cmdCommand_Click(int16_t Index);

  // --- What a user does.  Each returns false, changing nothing, when the
  // toolkit would not let it happen (a disabled control, an index outside the
  // list). ---
  // Picks entry `index` of a list; a change of selection raises the list's
  // click handling.  The slot list cannot be cleared this way.
  bool SelectModemID(int index);
  bool SelectCommPort(int index);
  bool SelectBaudRate(int index);
  // Sets the name field; text beyond 20 characters is cut off, as the text
  // box's length limit would stop the typing.
  void SetDeviceName(std::string_view text);
  // Presses a button if it is enabled.
  bool Press(int16_t index);

  // Whether a focusable control can be used now (lists, name field, buttons).
  bool IsEnabled(ControlId id) const;
  // The screen size in twips that Form_Load centres the window on.
  void SetScreenSize(int width_twips, int height_twips);

  const ComboList& cboModemID() const { return modem_id_; }
  const ComboList& cboCommPort() const { return comm_port_; }
  const ComboList& cboBaudRate() const { return baud_rate_; }
  const std::string& txtDeviceName() const { return device_name_; }
  bool ApplyEnabled() const { return apply_enabled_; }
  bool RemoveEnabled() const { return remove_enabled_; }
  // True once Close was pressed: the dialog is unloaded.
  bool Unloaded() const { return unloaded_; }
  int Left() const { return left_; }
  int Top() const { return top_; }

  // The slot the selection names (1..4), 0 when none is selected.
  int16_t SelectedSlot() const;
  // The per-user section of slot n ("Tarvex v4.0 - Modem #n").
  static std::string UserSection(int16_t slot);

 private:
  void LoadSlotSettings();
  // Sets a list's selection and raises its click handling when it changed.
  void SetListIndex(ComboList& list, int index);
  void UpdateApply();

  RegistryBackend& registry_;
  UserSettings& user_settings_;
  ComboList modem_id_;
  ComboList comm_port_;
  ComboList baud_rate_;
  std::string device_name_;
  bool apply_enabled_ = false;
  bool remove_enabled_ = false;
  bool unloaded_ = false;
  int screen_width_ = 0;
  int screen_height_ = 0;
  int left_ = 0;
  int top_ = 0;
};

}  // namespace tarvex

#pragma once
// The modal settings dialog: caption kTextDialogCaption, the program's icon, the label
// kTextDialogLabel, the port box, kTextDialogOk (the default button, Enter) and
// kTextDialogCancel (Escape); no close button. What it shows and accepts is decided by the
// portable SettingsDialogLogic; the adapter only draws it.

class SettingsDialogLogic;

class ISettingsDialog {
 public:
  virtual ~ISettingsDialog() = default;
  // Main thread. Shows the dialog owned by the program, with logic.InitialText() in the
  // port box. OK (button or Enter) hands the box's text to logic.OnOk with a reporter whose
  // boxes are owned by the dialog; a non-zero result ends the dialog with it, 0 keeps it open
  // with the text as typed. Cancel or Escape ends it with 0. Timers keep running meanwhile.
  // Returns the result, or -1 when the dialog could not be created.
  virtual int Run(SettingsDialogLogic& logic) = 0;
};

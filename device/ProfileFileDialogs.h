#pragma once
// The configurator's profile-file routines: bind the current profile to a new
// file, import a profile file, export the current profile. The file dialog
// and the message box sit behind TProfileFileChooser so the routines run
// without a screen.
#include <QString>

#include "device/DMUnit.h"
#include "device/uiProfile.h"  // AddPathDelimiter

// The text shown when an export cannot be written (system message, untranslated).
inline constexpr char kNoPermissionMessage[] = "No permission to save file!please change directory!";
inline constexpr char kNameTooLongMessage[] =
    "The profile file name may have at most 20 characters, and its folder path at most 1023.";
inline constexpr char kNameTakenMessage[] =
    "This file name is already used by another profile or by the settings; please choose another name.";

class TProfileFileChooser {
 public:
  virtual ~TProfileFileChooser() = default;
  // An open dialog (filter "pfd (*.pfd)"); the chosen full file name, or
  // empty when cancelled.
  virtual QString ChooseOpenFile(const QString& initialFolder) = 0;
  // A save dialog with default extension ".pfd" that does not ask before
  // replacing a file; the chosen full file name, or empty when cancelled.
  virtual QString ChooseSaveFile(const QString& initialFolder) = 0;
  // A modal message box with the literal text.
  virtual void ShowMessage(const QString& text) = 0;
  // Why a chosen file was not imported, in the program's message dialog.
  virtual void ShowRefusal(const QString& text) { ShowMessage(text); }
};

// Binds the current profile to a new file holding its defaults: the file is
// written first, then the binding changes and is stored. True when done.
bool NewProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder);
// Imports a profile file (at least a whole profile whose fields pass
// FirstProfileFault) as the current profile, bound to that file from then
// on. A refused file changes nothing; the refusal names the file and why.
// True when imported.
bool LoadProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder);
// Writes the current profile, as last saved back, to a file of the user's
// choice; the profile keeps its own file. True when written.
bool SaveProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder);

#pragma once
// The button and wheel assignment of the configurator: what a menu choice
// stores in a button's entry of the edited profile, the macro limit, the
// relinking of macro buttons after the macro manager changed the list, and
// the captions and hints the window shows for the entries.
//
// Everything works on TDM's edited profile (FCurrentProfileInfo): an entry is
// copied, changed and written back whole, then saved back to the profile's
// store. The dialogs are reached through TAssignmentDialogs so the rules run
// without a screen.
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/pubunit_quindle.h"

class TDM;
class TuiMenuEx;

// The dialogs an assignment may need. Each works on the caller's copy and
// returns the modal result; only 1 (OK) keeps the copy. An unset function
// counts as a cancelled dialog.
struct TAssignmentDialogs {
  std::function<int(TSINGLEKEYINFO&)> SingleKey;
  std::function<int(TCOMBOKEYINFO&)> ComboKey;
  std::function<int(TFIREKEYINFO&)> FireKey;
  // The macro manager on a copy of the profile's macro list, the selected
  // macro (in and out, -1 for none) and the macro folder.
  std::function<int(TMACROKEYINFOLIST& macros, int& currentMacro, const QString& macroPath)> MacroManager;
  // The message dialog (title, text, third line), texts already translated.
  std::function<int(const QString&, const QString&, const QString&)> Message;
};

// The fire-key dialog and the message dialog; the window adds the key,
// combination and macro-manager launchers of the macro library.
TAssignmentDialogs DefaultAssignmentDialogs();

// What an assignment did.
struct TAssignOutcome {
  bool EntryChanged = false;      // the button's entry (or the other main button's) was stored
  bool MacroListChanged = false;  // the macro manager replaced the list: rebuild the macro menu
  bool Refused = false;           // the macro limit refused the choice; the old entry stays
  bool Invalid = false;           // bad button index or menu ID: nothing changed
};

inline constexpr int kMaxButtonMacros = 5;        // distinct macros the mouse has blocks for
inline constexpr int kMacroLimitButtons = 10;     // entries the limit looks at
inline constexpr int kMainButtonCount = 2;        // entries 0 and 1: the main buttons
inline constexpr int kCaptionButtons = 7;         // BtnSet1 .. BtnSet7
inline constexpr int kComboCaptionMax = 12;       // longer combination texts are cut
inline constexpr int kComboCaptionKeep = 9;       // ... to this many characters and "..."

// The row of a menu ID; the ID itself when no row names it.
int64_t FunctionOfMenuIdOrSelf(int64_t menuId);
// The menu ID of a function index 0..34, otherwise -1.
int64_t MenuIdOfFunctionOrNone(int64_t functionIndex);

// Assigns the ID chosen in uiMenuEx1 or uiMenuExLRBUTTON to button entry t
// (0..14), with its dialog first where it needs one. `currentMacro` is the
// window's FCurrentMacro. The window then sets SettingsChanged (also after a
// cancelled dialog), rebuilds the macro menu when MacroListChanged, and
// refreshes the captions.
TAssignOutcome AssignButtonFunction(TDM& dm, int t, int64_t menuId, const TAssignmentDialogs& dialogs,
                                    int& currentMacro);

// Assigns wheel function n (1..6, uiMenuEx2) to wheel entry w (0 up, 1 down).
// FunctionClass stays as it was. False (nothing changed) for a bad w or n.
bool AssignWheelFunction(TDM& dm, int w, int64_t menuId);

// Distinct macros (FunctionType 4, by nMacroIndex) on the first ten entries.
int CountDistinctButtonMacros(const TMOUSECONFIGINFO& config);

// After the macro manager changed the list: every macro button (FunctionIndex
// 28) among the first ButtonCount entries is looked up by its macro's name in
// the new list and takes that macro and index, or becomes "Disable". Saves back.
void RelinkMacroButtons(TDM& dm);

// The texts of a key assignment ("<A>", "Ctrl+Shift+A", "<Ctrl+A+B>"); empty
// while the entry holds another function.
QString SingleKeyText(const TBUTTONFUNCINFO& entry);
QString ComboKeyText(const TBUTTONFUNCINFO& entry);

// The caption of button entry i (translated), from its MenuId or, when that
// is 0, from the menu ID of its function; uiMenuEx1 holds the captions.
QString ButtonCaption(const TMOUSECONFIGINFO& config, int i, const TuiMenuEx& uiMenuEx1);
// The caption of wheel entry w from uiMenuEx2.
QString WheelCaption(const TMOUSECONFIGINFO& config, int w, const TuiMenuEx& uiMenuEx2);
// The hint of button i: single key or combination, empty otherwise.
QString ButtonHint(const TMOUSECONFIGINFO& config, int i);

// All captions (SetButton): the buttons among the first ButtonCount entries
// (0..15) and the two wheel entries. The caller rebuilds the macro menu first
// and shows the first seven button captions.
struct TButtonCaptions {
  std::vector<QString> Buttons;
  QString Wheel[2];
};
TButtonCaptions AllCaptions(const TMOUSECONFIGINFO& config, const TuiMenuEx& uiMenuEx1, const TuiMenuEx& uiMenuEx2);

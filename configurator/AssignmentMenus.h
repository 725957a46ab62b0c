#pragma once
// The four popup menus of the button assignment and the PRESET button, built
// on the toolkit's menu component. Their item IDs are what the profiles store
// in a button's MenuId, so the order of every level below is fixed:
//
//   uiMenuEx1 (buttons 3 to 7):  1 "Click" .. 7 "Combo Key", 8 "Basic" (801..808),
//     9 "Advanced" (901..906), 10 "Media" (1001..1008), 11 "Macro" (1101 the
//     manager, 1102 + k macro k), 12..14 DPI, 15 "Fire Key...", 16 "Disable"
//   uiMenuExLRBUTTON (buttons 1 and 2): 1 "Click", 2 "Right Click"
//   uiMenuEx2 (wheel): 1 "Wheel Up" .. 6 "Forward"
//   uiMenuEx3 (PRESET): 1 "Default Profile", 2 "Load from file", 3 "Save to file"
//
// Captions are stored untranslated; the menu translates them when it shows a
// level. Only the macro rows carry an already translated word (their text is
// made from the macro's name), so they are rebuilt when the language changes.
#include <QString>
#include <cstdint>

#include "device/pubunit_quindle.h"
#include "toolkit/uiMenuEx.h"

// Row heights of the menus.
inline constexpr int kButtonMenuRowHeight = 25;  // uiMenuEx1 and uiMenuEx3
inline constexpr int kWheelMenuRowHeight = 30;   // uiMenuEx2 and uiMenuExLRBUTTON

// IDs that the window and the assignment act on.
inline constexpr int kMenuIdMacro = 11;             // the "Macro" sub-menu of uiMenuEx1
inline constexpr int kMenuIdMacroManager = 1101;    // "Macro Manager"
inline constexpr int kMenuIdFirstMacro = 1102;      // macro k of the profile's list: 1102 + k
inline constexpr int kMenuIdPresetDefault = 1;      // uiMenuEx3 "Default Profile"
inline constexpr int kMenuIdPresetLoad = 2;         // uiMenuEx3 "Load from file"
inline constexpr int kMenuIdPresetSave = 3;         // uiMenuEx3 "Save to file"

// Fill an empty menu (an existing tree is cleared first) and give it its
// custom parameters: every level takes the menu's, rows of the given height,
// the selected row marked.
void BuildButtonMenu(TuiMenuEx& uiMenuEx1);
void BuildMainButtonMenu(TuiMenuEx& uiMenuExLRBUTTON);
void BuildWheelMenu(TuiMenuEx& uiMenuEx2);
void BuildPresetMenu(TuiMenuEx& uiMenuEx3);

// Rebuilds the sub-items of "Macro" in uiMenuEx1: "Macro Manager", then one
// row per macro of the list (at most 21), so macro k reports 1102 + k. Must
// run before every caption refresh: the IDs shift when the manager changes
// the list.
void RebuildMacroMenu(TuiMenuEx& uiMenuEx1, const TMACROKEYINFOLIST& macros);

// The untranslated caption of the item with that ID, empty when the tree
// holds none (0, -1, an ID of an older profile).
QString MenuCaptionOfId(const TuiMenuEx& menu, int64_t menuId);

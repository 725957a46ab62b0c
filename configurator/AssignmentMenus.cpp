#include "configurator/AssignmentMenus.h"

#include <algorithm>
#include <initializer_list>

#include "toolkit/uiLanguage.h"

namespace {

void AddItems(TuiMenuItemsEx& level, std::initializer_list<const char*> captions) {
  for (const char* caption : captions) {
    TuiMenuItemEx* item = level.Add();
    if (item) item->Caption = QString::fromUtf8(caption);
  }
}

void UseCustomParameters(TuiMenuEx& menu, int rowHeight) {
  menu.Items().Clear();
  menu.UseCustomMenuParams = true;
  menu.Parameters().ItemHeight = rowHeight;
  menu.Parameters().MenuShowSelectedCheckMark = true;
  menu.Items().UseParentParameter = true;
}

TuiMenuItemsEx& SubLevel(TuiMenuEx& menu, int index) {
  TuiMenuItemsEx& level = menu.Items().GetItem(index)->SubItems();
  level.UseParentParameter = true;
  return level;
}

}  // namespace

void BuildButtonMenu(TuiMenuEx& menu) {
  UseCustomParameters(menu, kButtonMenuRowHeight);
  AddItems(menu.Items(), {"Click", "Right Click", "Middle Button", "Forward", "Backward", "Single Key", "Combo Key",
                          "Basic", "Advanced", "Media", "Macro", "DPI Switch", "DPI +", "DPI -", "Fire Key...",
                          "Disable"});
  AddItems(SubLevel(menu, 7), {"Cut", "Copy", "Paste", "Select All", "Find", "New", "Print", "Save"});
  AddItems(SubLevel(menu, 8),
           {"Switch Window", "Close Window", "Open Explorer", "Run", "Show Desktop", "Lock PC"});
  AddItems(SubLevel(menu, 9), {"Play/Pause", "Stop", "Previous", "Next", "Volume Up", "Volume Down", "Mute",
                               "Mute(microphone)"});
  AddItems(SubLevel(menu, 10), {"Macro Manager"});
}

void BuildMainButtonMenu(TuiMenuEx& menu) {
  UseCustomParameters(menu, kWheelMenuRowHeight);
  AddItems(menu.Items(), {"Click", "Right Click"});
}

void BuildWheelMenu(TuiMenuEx& menu) {
  UseCustomParameters(menu, kWheelMenuRowHeight);
  AddItems(menu.Items(), {"Wheel Up", "Wheel Down", "Volume +", "Volume -", "Backward", "Forward"});
}

void BuildPresetMenu(TuiMenuEx& menu) {
  UseCustomParameters(menu, kButtonMenuRowHeight);
  AddItems(menu.Items(), {"Default Profile", "Load from file", "Save to file"});
}

void RebuildMacroMenu(TuiMenuEx& menu, const TMACROKEYINFOLIST& macros) {
  TuiMenuItemEx* macroItem = menu.Items().GetItem(kMenuIdMacro - 1);
  if (!macroItem) return;  // not the button menu
  TuiMenuItemsEx& level = macroItem->SubItems();
  level.UseParentParameter = true;
  level.Clear();
  TuiMenuItemEx* manager = level.Add();
  if (manager) manager->Caption = QStringLiteral("Macro Manager");
  const int count = UsableMacroCount(macros);
  const QString word = Translate(QStringLiteral("Macro"));
  for (int k = 0; k < count; ++k) {
    TuiMenuItemEx* item = level.Add();
    if (!item) break;
    item->Caption = word + u'<' + QString::fromStdU16String(ReadText(macros.MacroInfos[k].szMacroName)) + u'>';
  }
}

QString MenuCaptionOfId(const TuiMenuEx& menu, int64_t menuId) {
  if (menuId <= 0) return {};
  const TuiMenuItemEx* item = menu.ItemOfMenuId(menuId);
  return item ? item->Caption : QString();
}

#include "device/uiKeyCode.h"

#include <cstdio>

namespace {

struct StaticRow {
  const char* name;
  int32_t code;
  int32_t scan;
  int32_t extended;
  int32_t hid;
  const char* text;
};

constexpr int32_t N = kKeyNotExtended;
constexpr int32_t E = kKeyExtended;

// The named rows of the normal array; the ranges (digits, letters, function
// keys, keypad digits, undefined codes) are generated in BuildTables.
constexpr StaticRow kNormalRows[] = {
    {"VK_NULL", 0, 0, N, -1, ""},
    {"VK_LBUTTON", 1, 0, N, -1, "Mouse Left Click"},
    {"VK_RBUTTON", 2, 0, N, -1, "Mouse Right Click"},
    {"VK_CANCEL", 3, 0, N, -1, "Control Break"},
    {"VK_MBUTTON", 4, 0, N, -1, "Mouse Middle Click"},
    {"VK_BACK", 8, 0, N, 42, "BACKSPACE"},
    {"VK_TAB", 9, 0, N, 43, "TAB"},
    {"VK_CLEAR", 12, 0, N, 156, "CLEAR"},
    {"VK_RETURN", 13, 0, N, 40, "ENTER"},
    {"VK_SHIFT", 16, 0, N, -1, "SHIFT"},
    {"VK_CONTROL", 17, 0, N, -1, "CTRL"},
    {"VK_MENU", 18, 0, N, -1, "ALT"},
    {"VK_PAUSE", 19, 0, N, 72, "PAUSE"},
    {"VK_CAPITAL", 20, 0, N, 57, "CAPS LOCK"},
    {"VK_ESCAPE", 27, 0, N, 41, "ESC"},
    {"VK_SPACE", 32, 0, N, 44, "SPACEBAR"},
    // Navigation keys without the extended prefix: the keypad with Num Lock off.
    {"VK_PRIOR", 33, 0, N, 97, "PAGE UP"},
    {"VK_NEXT", 34, 0, N, 91, "PAGE DOWN"},
    {"VK_END", 35, 0, N, 89, "END"},
    {"VK_HOME", 36, 0, N, 95, "HOME"},
    {"VK_LEFT", 37, 0, N, 92, "LEFT ARROW"},
    {"VK_UP", 38, 0, N, 96, "UP ARROW"},
    {"VK_RIGHT", 39, 0, N, 94, "RIGHT ARROW"},
    {"VK_DOWN", 40, 0, N, 90, "DOWN ARROW"},
    {"VK_SELECT", 41, 0, N, -1, "SELECT"},
    {"VK_PRINT", 42, 0, N, -1, "PRINT"},
    {"VK_EXECUTE", 43, 0, N, -1, "EXECUTE"},
    {"VK_SNAPSHOT", 44, 0, E, 70, "PRINT SCREEN"},
    {"VK_NUMPAD0_INSERT", 45, 0, N, 98, "Keypad 0 Insert"},
    {"VK_DELETE", 46, 0, N, 99, "Keypad DEL"},
    {"VK_HELP", 47, 0, N, -1, "HELP"},
    {"VK_LWIN", 91, 0, E, 227, "L WIN"},
    {"VK_RWIN", 92, 0, E, 231, "R WIN"},
    {"VK_APP", 93, 0, E, 101, "APP"},
    {"VK_MULTIPLY", 106, 0, N, 85, "*"},
    {"VK_ADD", 107, 0, N, 87, "+"},
    {"VK_SEPARATOR", 108, 0, N, 151, "Separator"},
    {"VK_SUBTRACT", 109, 0, N, 86, "-"},
    {"VK_DECIMAL", 110, 0, N, 99, "NUMPAD ."},
    {"VK_DIVIDE", 111, 0, E, 84, "/"},
    {"VK_NUMLOCK", 144, 0, E, 83, "NUM LOCK"},
    {"VK_SCROLL", 145, 0, N, 71, "Scroll Lock"},
    {"VK_LSHIFT", 160, 0, N, 225, "L SHIFT"},
    {"VK_RSHIFT", 161, 0, E, 229, "R SHIFT"},
    {"VK_LCONTROL", 162, 0, N, 224, "L CTRL"},
    {"VK_RCONTROL", 163, 0, E, 228, "R CTRL"},
    {"VK_LMENU", 164, 0, N, 226, "L ALT"},
    {"VK_RMENU", 165, 0, E, 230, "R ALT"},
    // Browser and media keys: extended, consumer-page usages.
    {"VK_BROWSER_BACK", 166, 0, E, 548, "BROWSER_BACK"},
    {"VK_BROWSER_FORWARD", 167, 0, E, 549, "BROWSER_FORWARD"},
    {"VK_BROWSER_REFRESH", 168, 0, E, 551, "BROWSER_REFRESH"},
    {"VK_BROWSER_STOP", 169, 0, E, 550, "BROWSER_STOP"},
    {"VK_BROWSER_SEARCH", 170, 0, E, 545, "BROWSER_SEARCH"},
    {"VK_BROWSER_FAVORITES", 171, 0, E, 554, "BROWSER_FAVORITES"},
    {"VK_BROWSER_HOME", 172, 0, E, 547, "BROWSER_HOME"},
    {"VK_VOLUME_MUTE", 173, 0, E, 226, "VOLUME_MUTE"},
    {"VK_VOLUME_DOWN", 174, 0, E, 234, "VOLUME_DOWN"},
    {"VK_VOLUME_UP", 175, 0, E, 233, "VOLUME_UP"},
    {"VK_MEDIA_NEXT_TRACK", 176, 0, E, 181, "MEDIA_NEXT_TRACK"},
    {"VK_MEDIA_PREV_TRACK", 177, 0, E, 182, "MEDIA_PREV_TRACK"},
    {"VK_MEDIA_STOP", 178, 0, E, 183, "MEDIA_STOP"},
    {"VK_MEDIA_PLAY_PAUSE", 179, 0, E, 205, "MEDIA_PLAY_PAUSE"},
    {"VK_LAUNCH_MAIL", 180, 0, E, 394, "LAUNCH_MAIL"},
    {"VK_LAUNCH_MEDIA_SELECT", 181, 0, E, 387, "LAUNCH_MEDIA_SELECT"},
    {"VK_LAUNCH_APP1", 182, 0, E, 404, "LAUNCH_APP1"},
    {"VK_LAUNCH_APP2", 183, 0, E, 402, "LAUNCH_APP2"},
    // Punctuation keys carry their scan codes.
    {"VK_OEM_1", 186, 0x27, N, 51, ";:"},
    {"VK_OEM_PLUS", 187, 0x0D, N, 46, "="},
    {"VK_OEM_COMMA", 188, 0x33, N, 54, ",<"},
    {"VK_OEM_MINUS", 189, 0x0C, N, 45, "-_"},
    {"VK_OEM_PERIOD", 190, 0x34, N, 55, "."},
    {"VK_OEM_2", 191, 0x35, N, 56, "/?"},
    {"VK_OEM_3", 192, 0x29, N, 53, "~`"},
    {"VK_OEM_4", 219, 0x1A, N, 47, "[{"},
    {"VK_OEM_5", 220, 0x2B, N, 49, "\\|"},
    {"VK_OEM_6", 221, 0x1B, N, 48, "]}"},
    {"VK_OEM_7", 222, 0x28, N, 52, "'\""},
    {"VK_OEM_8", 223, 0, N, -1, "None"},
    {"VK_OEM_AX", 225, 0, N, -1, "AX"},
    {"VK_OEM_102", 226, 0x56, N, 100, "Europe 2 (Note 2)"},
};

// Codes of the normal array that hold an "Undefined" row of their own.
constexpr std::pair<int, int> kUndefinedRanges[] = {
    {5, 7}, {10, 11}, {14, 15}, {21, 26}, {28, 31}, {58, 64}, {94, 95}, {136, 143}, {146, 159}, {224, 224}};

constexpr StaticRow kExtendedRows[] = {
    {"VK_RETURN", 13, 0, E, 88, "ENTER"},
    {"VK_PRIOR", 33, 0, E, 75, "PAGE UP"},
    {"VK_NEXT", 34, 0, E, 78, "PAGE DOWN"},
    {"VK_END", 35, 0, E, 77, "END"},
    {"VK_HOME", 36, 0, E, 74, "HOME"},
    {"VK_LEFT", 37, 0, E, 80, "LEFT ARROW"},
    {"VK_UP", 38, 0, E, 82, "UP ARROW"},
    {"VK_RIGHT", 39, 0, E, 79, "RIGHT ARROW"},
    {"VK_DOWN", 40, 0, E, 81, "DOWN ARROW"},
    {"VK_INSERT", 45, 0, E, 73, "INS"},
    {"VK_DELETE", 46, 0, E, 76, "DEL"},
    // The keyboard page's Power usage.
    {"VK_POWER", 255, 0x5E, E, 102, "POWER"},
};

std::string Hex(int value, int digits) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

void Put(TKeyTable& table, std::string name, int32_t code, int32_t scan, int32_t extended, int32_t hid,
         std::string text) {
  table[size_t(code)] = {std::move(name), code, scan, extended, hid, std::move(text)};
}

void Put(TKeyTable& table, const StaticRow& r) { Put(table, r.name, r.code, r.scan, r.extended, r.hid, r.text); }

void FillPlaceholders(TKeyTable& table, int32_t extended) {
  for (int i = 0; i < kKeyTableRows; ++i)
    Put(table, "VK_UNDEFINED_" + Hex(i, 3), i, 0, extended, -1, "UNDEFINED_" + Hex(i, 3));
}

struct Tables {
  TKeyTable normal;
  TKeyTable extended;
};

// A text and a number: appended, not `"text" + std::to_string(n)`, whose
// inlined insert GCC 12 takes for an overlapping copy (-Wrestrict).
std::string Prefixed(std::string_view text, int n) {
  std::string s(text);
  s += std::to_string(n);
  return s;
}

Tables BuildTables() {
  Tables t;
  FillPlaceholders(t.normal, N);
  FillPlaceholders(t.extended, E);

  for (auto [first, last] : kUndefinedRanges)
    for (int c = first; c <= last; ++c) Put(t.normal, "VK_UNDEFINED_" + Hex(c, 2), c, 0, N, -1, "Undefined");
  for (int d = 0; d <= 9; ++d) {
    const std::string digit(1, char('0' + d));
    Put(t.normal, "VK_" + digit, 48 + d, 0, N, d == 0 ? 39 : 29 + d, digit);
  }
  for (int l = 0; l < 26; ++l) {
    const std::string letter(1, char('A' + l));
    Put(t.normal, "VK_" + letter, 65 + l, 0, N, 4 + l, letter);
  }
  for (int f = 1; f <= 24; ++f) {
    const std::string name = Prefixed("F", f);
    Put(t.normal, "VK_" + name, 111 + f, 0, N, f <= 12 ? 57 + f : 91 + f, name);
  }
  constexpr int32_t kKeypadUsages[10] = {98, 89, 90, 91, 92, 93, 94, 95, 96, 97};
  for (int d = 0; d <= 9; ++d)
    Put(t.normal, Prefixed("VK_NUMPAD", d), 96 + d, 0, N, kKeypadUsages[d], Prefixed("NUMPAD ", d));
  for (const StaticRow& r : kNormalRows) Put(t.normal, r);
  for (const StaticRow& r : kExtendedRows) Put(t.extended, r);
  return t;
}

const Tables& TablesOnce() {
  static const Tables tables = BuildTables();  // thread-safe initialisation
  return tables;
}

}  // namespace

const TKeyTable& KeyTableNormal() { return TablesOnce().normal; }
const TKeyTable& KeyTableExtended() { return TablesOnce().extended; }
void InitKeyboardInfoTables() { TablesOnce(); }

const TKeyboardInfoTable* FindKeyRow(int64_t virtualKey, int64_t extended) {
  if (virtualKey < 0 || virtualKey >= kKeyTableRows) return nullptr;
  if (extended == kKeyNotExtended) extended = 0;
  if (extended == kKeyExtended) extended = 1;
  const Tables& t = TablesOnce();
  const TKeyboardInfoTable& normal = t.normal[size_t(virtualKey)];
  if (extended == 0) return &normal;
  // A key that exists only extended (right-hand modifiers, Windows keys,
  // browser and media keys ...) lives in the normal array, marked extended.
  if (extended == 1 && normal.Extended == kKeyExtended) return &normal;
  return &t.extended[size_t(virtualKey)];
}

uint32_t VKToHIDCode(int64_t virtualKey, int64_t extended) {
  const TKeyboardInfoTable* row = FindKeyRow(virtualKey, extended);
  return row && row->HIDCode > 0 ? uint32_t(row->HIDCode) : 0;
}

std::string VKToKeyDescription(int64_t virtualKey, int64_t extended) {
  const TKeyboardInfoTable* row = FindKeyRow(virtualKey, extended);
  return row ? row->KeyDescription : std::string();
}

std::string ModifierToText(uint8_t mask) {
  std::string text;
  if (mask & 1) text += "Alt+";
  if (mask & 2) text += "Ctrl+";
  if (mask & 4) text += "Shift+";
  if (mask & 8) text += "WIN+";
  return text;
}

uint8_t ModifierToHIDModifier(uint8_t mask) {
  uint8_t hid = 0;
  if (mask & 1) hid |= 4;  // Alt
  if (mask & 2) hid |= 1;  // Ctrl
  if (mask & 4) hid |= 2;  // Shift
  if (mask & 8) hid |= 8;  // Win / GUI
  return hid;
}

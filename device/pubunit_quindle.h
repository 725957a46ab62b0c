#pragma once
// The shared data definitions of both programs: the profile record and
// everything inside it, the two settings records, the key and macro records,
// the DPI record for the filter driver, and the constant tables.
//
// Every record is stored, sent and compared as its raw bytes (little-endian),
// and the other program and older profile files read what we write, so every
// size and offset below is fixed and checked at compile time. The records use
// natural alignment (each field at a multiple of its own size up to 4); the
// padding bytes are spelled out as fields so nothing is left implicit. Only
// CPI_ITEM is packed: it is kept as raw bytes with memcpy accessors, so no
// reference to a misaligned field can ever be formed.
//
// Text fields are arrays of UTF-16 code units (char16_t, never wchar_t, which
// is 4 bytes here), ended by a null unit when shorter than the array. Use the
// bounded accessors below (ReadText, WriteText, WriteTextCut).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------
// Key and macro records

// One single key: a virtual-key code and its extended flag (0 or 1).
struct TSINGLEKEYINFO {
  uint16_t nKeyValue1;     // virtual-key code, 0 for none
  uint16_t nKey1Extended;  // 1 for an extended key, else 0
};

// Two keys and a modifier mask in the system's own order.
struct TCOMBOKEYINFO {
  uint16_t nKeyValue1;
  uint16_t nKey1Extended;
  uint16_t nKeyValue2;
  uint16_t nKey2Extended;
  uint16_t nModifier;  // Alt 1, Ctrl 2, Shift 4, Win 8
};

// Two HID usage codes and a HID modifier mask (also the media-code words of a
// button entry, where the third word is always 0).
struct THID_CODE_INFO {
  uint16_t nKeyValue1;
  uint16_t nKeyValue2;
  uint16_t nModifier;  // HID order: Ctrl 1, Shift 2, Alt 4, GUI 8
};

// Repeat count and delay of a fire-key assignment.
struct TFIREKEYINFO {
  uint16_t nLoopCount;  // repeat count
  uint16_t DelyValue;   // delay in milliseconds
};

// Macro step types (nKeyType of TMACROKEY).
enum : uint16_t {
  kMacroStepMouseButton = 1,  // mouse button press/release
  kMacroStepKeyboard = 4,     // keyboard key: VALUE1 = virtual key, VALUE2 = extended flag
  kMacroStepMedia = 5,        // media key: VALUE1/VALUE2 = low/high byte of the usage
  kMacroStepDelay = 6,        // delay: VALUE1/VALUE2 = low/high byte of milliseconds
  kMacroStepLoop = 7,         // loop, only in the device image (made from nLoopCount)
};

// nKeyState of TMACROKEY: 1 press; every other value is a release.
enum : uint16_t { kMacroKeyPress = 1 };

// One macro step. The two value bytes are read under several names according
// to the step type: VALUE1/VALUE2 are MouseKeyValue/MouseKey_Index,
// MOUSE_X/MOUSE_Y, WHEEL_VALUE/WHEEL_Index, nKeyValue/nKeyExtended,
// MediaKey_L/MediaKey_H, DELAY_L/DELAY_H and LOOP_L/LOOP_H.
struct TMACROKEY {
  uint16_t nKeyType;
  uint16_t nKeyState;
  uint8_t VALUE1;
  uint8_t VALUE2;
};

constexpr int kMacroMaxSteps = 128;     // steps of one macro
constexpr int kMacroNameUnits = 50;     // UTF-16 units of a macro name
constexpr int kProfileMacroSlots = 21;  // macros of one profile
constexpr int kDeviceMacroBlocks = 5;   // macro blocks of the mouse

// One macro; also the whole content of a ".macro" file.
struct TMACROKEYINFO {
  TMACROKEY MacroList[kMacroMaxSteps];
  int32_t MacroListCount;
  uint16_t nAutoAddDelay;
  uint16_t nLoopCount;
  uint16_t nMacroIndex;
  uint8_t MacroUse;
  uint8_t padding779;
  char16_t szMacroName[kMacroNameUnits];
  uint32_t Version;
  int32_t HaveErrors;
  int32_t ErrorCount;
};

// The macros of a profile: 21 slots and a count.
struct TMACROKEYINFOLIST {
  TMACROKEYINFO MacroInfos[kProfileMacroSlots];
  uint16_t nMacroInfoCount;
  uint8_t padding18734[2];
};

// How every reader takes a list from a profile image, which may come from a
// damaged or foreign file that passed import: at most the 21 slots, and each
// macro's steps within 0..128. The encoders, the menus and the macro editor
// agree on it, so the user edits exactly what the mouse would receive.
inline int UsableMacroCount(const TMACROKEYINFOLIST& list) {
  return std::min<int>(list.nMacroInfoCount, kProfileMacroSlots);
}
inline int UsableStepCount(const TMACROKEYINFO& macro) {
  return std::clamp<int32_t>(macro.MacroListCount, 0, kMacroMaxSteps);
}

// Five macro slots and a count (reserved inside a profile image).
struct TMACROINFOLIST_TO_DEVICE {
  TMACROKEYINFO MacroInfos[kDeviceMacroBlocks];
  uint16_t nMacroInfoCount;
  uint8_t padding4462[2];
};

// ---------------------------------------------------------------------------
// Button entries

// Kinds of assignment (FunctionType of TBUTTONFUNCINFO).
enum : uint8_t {
  kFunctionTypeDpi = 0,          // DPI switching (DPI Switch, DPI +, DPI -)
  kFunctionTypeMouse = 1,        // mouse button; for a wheel entry any wheel function
  kFunctionTypeCombo = 3,        // key combination (own or preset shortcut)
  kFunctionTypeMacro = 4,        // macro; MacroInfo holds a copy of it
  kFunctionTypeFireKey = 5,      // fire key; FireKey holds count and delay
  kFunctionTypeSingleKey = 8,    // single key; SingleKey holds the key
  kFunctionTypeMedia = 10,       // media key, or "Disable" with an all-zero MediaCode
  kFunctionTypeMicMute = 11,     // microphone mute; MicMask holds the button's mask
};

// Device function classes (FunctionClass, the code the button table sends).
enum : int32_t {
  kFunctionClassLeft = 1,
  kFunctionClassRight = 2,
  kFunctionClassMiddle = 3,
  kFunctionClassBackward = 4,
  kFunctionClassForward = 5,
  kFunctionClassDpiSwitch = 8,
  kFunctionClassDpiUp = 9,
  kFunctionClassDpiDown = 10,
  kFunctionClassWheelUp = 11,    // default vertical wheel up entry
  kFunctionClassWheelDown = 12,  // default vertical wheel down entry
  kFunctionClassMedia = 14,      // media key, and "Disable" (all-zero media code)
  kFunctionClassCombo = 15,
  kFunctionClassSingleKey = 16,
  kFunctionClassMacro = 17,
  kFunctionClassFireKey = 18,
  kFunctionClassMicMute = 19,    // microphone mute: the button's MicMask goes to the mouse
};

// The microphone-mute assignment, shared by the configurator's menu, the
// button-table encoder and the monitor: the monitor toggles the microphone
// when a pressed button's FunctionIndex is kMicMuteFunctionIndex.
constexpr uint16_t kMicMuteFunctionIndex = 34;
constexpr int32_t kMicMuteFunctionClass = kFunctionClassMicMute;
constexpr int32_t kMicMuteMenuId = 1008;

// Rows of DeviceFunctionTable that others name.
constexpr uint16_t kMacroFunctionIndex = 28;    // "Macro"
constexpr uint16_t kDisableFunctionIndex = 33;  // "Disable"

// The function of one button or wheel direction. One entry holds the
// parameters of every kind of assignment side by side; FunctionType says
// which of them applies.
struct TBUTTONFUNCINFO {
  uint16_t reserved0;
  TSINGLEKEYINFO SingleKey;
  TCOMBOKEYINFO ComboKey;
  THID_CODE_INFO MediaCode;  // first and second usage of a media key, third word 0
  uint8_t padding22[2];
  TMACROKEYINFO MacroInfo;   // copy of the assigned macro
  TFIREKEYINFO FireKey;
  uint8_t reserved920[4];
  int32_t WheelValue;        // parameter of the wheel classes 11 and 12
  uint8_t reserved928[2820];
  uint8_t MicMask[3];        // bytes 1..3 of the button's ButtonMaskTable entry
  uint8_t padding3751;
  uint16_t ButtonIndex;      // the entry's own index; written by the defaults, never read
  uint16_t FunctionIndex;    // row of DeviceFunctionTable; for a wheel entry 0..5
  uint8_t FunctionType;      // kFunctionType*
  uint8_t padding3757[3];
  int32_t FunctionClass;     // kFunctionClass*: what the button-table encoder sends
  int32_t MenuId;            // ID of the menu item that made the assignment
  uint8_t reserved3768[4];
};

// ---------------------------------------------------------------------------
// Profile settings

// One DPI level.
struct TCPISTATE {
  uint16_t X;
  uint16_t Y;
  uint16_t State;  // 1 enabled, 0 disabled
};

// LED colour and effect as the user sets it (the device block differs).
struct TLEDCONFIG {
  uint8_t R;
  uint8_t G;
  uint8_t B;
  uint8_t BRIGHT_LEVEL;
  uint8_t BREATH_SPEED;
  uint8_t BREATH_SECOND;
};

struct TSENSORLIFT {
  uint8_t SensorLift;  // reserved
};

struct TPROFILE_MACRO_PATH {
  uint8_t FilePath[1026];  // reserved
};

constexpr int kButtonCount = 15;  // button entries of a profile
constexpr int kCpiLevels = 11;    // DPI level slots; levels 0..9 are used

// The settings of one profile.
struct TMOUSECONFIGINFO {
  TBUTTONFUNCINFO ButtonFuncInfo[kButtonCount];
  TBUTTONFUNCINFO VWheelButtonFuncInfo[2];  // [0] wheel up, [1] wheel down
  TBUTTONFUNCINFO HWheelButtonFuncInfo[2];  // reserved
  uint16_t VWheelType;                      // reserved
  uint16_t HWheelType;                      // reserved
  uint16_t VWheelSpeed;                     // wheel scroll lines
  uint16_t HWheelSpeed;                     // reserved
  int8_t HWVWheelValue;                     // low 7 bits of the wheel-LED byte
  int8_t WheelLedOnOff;                     // top bit of the wheel-LED byte
  uint16_t DoubleClickSpeed;                // milliseconds
  uint16_t PointerSpeed;
  uint16_t PointerAcceleration;
  uint16_t UseSystemPointerSpeedSetting;    // reserved
  uint16_t ReportRate;                      // Hz: 125, 250, 500 or 1000
  int32_t CurrentCPIIndex;                  // active DPI level, 0-based
  uint16_t CurrentCPIX;                     // reserved
  uint16_t CurrentCPIY;                     // reserved
  uint16_t MinCPI;                          // reserved
  uint16_t MaxCPI;                          // reserved
  uint16_t UseDiffentXY[kCpiLevels];        // written, never read
  uint16_t UseCPIOnScreenFlyShow;           // reserved
  TCPISTATE CPIState[kCpiLevels];           // the levels as the user set them
  TCPISTATE HWCPIState[kCpiLevels];         // the levels as hardware steps
  uint16_t CPILevel;                        // number of levels in use
  uint16_t AutoSwitchProfileWhenAppRun;     // reserved
  uint8_t ApplicationList[10260];           // reserved
  TLEDCONFIG LEDConfig;
  TSENSORLIFT Sensorlift;                   // reserved
  uint8_t padding82127;
  int32_t ButtonCount;                      // entries that go into the button table
  TPROFILE_MACRO_PATH ProfilePath;          // reserved
  TPROFILE_MACRO_PATH MacroPath;            // reserved
  int32_t ApplyCPISettingEachProfile;       // "Apply cpi setting for each profile"
  int32_t ApplyAccelaration;                // "Accelaration"
  int32_t ApplyDiffirentXY;                 // "Diffirent X/Y setting"
  int32_t FireKeySpeed;                     // default delay of a new fire key
  int32_t FireKeyCount;                     // default count of a new fire key
};

constexpr int32_t kProfileFileVersion = 258;

struct TProfileHeader {
  int32_t FFileVersion;   // kProfileFileVersion in every profile we make
  uint8_t FFileType[8];   // reserved
  uint8_t FFileName[44];  // reserved
  uint32_t FProfileSize;  // reserved
};

struct TFUNCTIONLIST {
  uint8_t FunctionInfo[800];  // reserved
};

// One profile: the whole content of a ".pfd" file and of a profile's
// registry value.
struct TMOUSEPROFILEINFO {
  TProfileHeader ProfileHeader;
  TFUNCTIONLIST FunctionList;                   // reserved
  TMOUSECONFIGINFO ConfigInfo;
  TFUNCTIONLIST HWheelFunctionList;             // reserved
  TFUNCTIONLIST VWheelFunctionList;             // reserved
  TMACROKEYINFOLIST MacroKeyInfoList;           // the profile's macros
  TMACROINFOLIST_TO_DEVICE MacroInfoToDevice;   // reserved
  uint8_t OtherConfig[32];                      // reserved: zeros, ignored when read
};

// ---------------------------------------------------------------------------
// Where the profiles are stored

constexpr int kProfileCount = 5;
constexpr int kProfileFileNameMaxUnits = 20;  // FileName: 20 units and the null

enum : uint8_t { kStorageRegistry = 0, kStorageFile = 1 };

struct TProfileSetting {
  uint16_t Reserved;
  char16_t FileFolder[1024];      // ends with a path separator
  char16_t RegistryFolder[1024];  // written by the defaults, never read
  char16_t FileName[21];          // file name, also the name of the registry value
  char16_t MacroFolder[1024];
  uint8_t Storage;                // kStorageRegistry or kStorageFile
  uint8_t padding6189;
};

// The mode settings ("ProfileSettingGroup.pfd").
struct TProfileSettingGroup {
  int32_t CurrentProfileGroup;            // hardware mode in use, 0 or 1
  int32_t ProfileIndexOfProfileGroup[2];  // profile bound to mode 0 and mode 1
  TProfileSetting ProfileSettingList[kProfileCount];
  uint8_t padding30962[2];
};

// The all-profile settings ("ALLPROFILE.pfd").
struct TALLGAMESINFO {
  TProfileSetting Allgameset[kProfileCount];  // written by the defaults, never read
  uint8_t padding30950[2];
  int32_t CurrentGame;      // profile being edited, 0..4
  int32_t CurrentLanguage;  // index in the language list
};

// ---------------------------------------------------------------------------
// In-memory configuration values (never stored as images)

// [OtherConfig] and [HelpFiles] of config.ini.
struct TOtherConfig {
  int32_t ShowNumLock = 0;
  int32_t ShowCapsLock = 0;
  int32_t ShowScrollLock = 0;
  int32_t ShowLockStatePop = 0;
  std::vector<std::pair<std::u16string, std::u16string>> HelpFile;  // language ID, help file
  int32_t Nologo = 0;
  std::u16string OfficialWebSite;
  std::u16string UpdateWebSite;
};

// [options] of config.ini.
struct TOptionsFromConfigFile {
  std::u16string ProfileRegFolder;
  std::u16string ProfileFolder;
  std::u16string ProfileNamePrefix;
  std::u16string ProfileMacroFolder;
};

// ---------------------------------------------------------------------------
// The DPI table handed to the mouse's filter driver (packed)

constexpr uint16_t kCpiUnitPassword = 0x3C5A;  // the marker word of device packets

// One DPI level of CPI_UNIT: Enabled at 0, X at 1, Y at 5 (packed, 9 bytes).
// Kept as raw bytes; the 32-bit fields are reached through memcpy accessors.
struct CPI_ITEM {
  uint8_t bytes[9];

  uint8_t Enabled() const { return bytes[0]; }
  void SetEnabled(uint8_t v) { bytes[0] = v; }
  uint32_t X() const { return Get32(1); }
  void SetX(uint32_t v) { Set32(1, v); }
  uint32_t Y() const { return Get32(5); }
  void SetY(uint32_t v) { Set32(5, v); }

 private:
  uint32_t Get32(size_t at) const {
    uint32_t v;
    std::memcpy(&v, bytes + at, sizeof v);
    return v;
  }
  void Set32(size_t at, uint32_t v) { std::memcpy(bytes + at, &v, sizeof v); }
};

struct XY {
  int16_t X;
  int16_t Y;
};

constexpr int kCpiUnitLevels = 10;

struct CPI_UNIT {
  uint16_t password;  // kCpiUnitPassword
  uint16_t NeedApplyNewCPI;
  uint16_t ReportLength;
  uint8_t X_LowByte;
  uint8_t X_HighByte;
  uint8_t Y_LowByte;
  uint8_t Y_HighByte;
  int16_t X_Counter;
  int16_t Y_Counter;
  uint16_t CpiCount;
  uint16_t CurrentCpi;
  CPI_ITEM HWCpi[kCpiUnitLevels];
  CPI_ITEM STCpi[kCpiUnitLevels];
  XY XYCpiRate[kCpiUnitLevels];
};

// ---------------------------------------------------------------------------
// Layout checks: these sizes and offsets are what files, the registry, the
// other program and the driver rely on.

#define PUBUNIT_LAYOUT(T, size)                              \
  static_assert(sizeof(T) == (size), #T " size");            \
  static_assert(std::is_trivially_copyable_v<T>, #T " copy"); \
  static_assert(std::is_standard_layout_v<T>, #T " layout")

PUBUNIT_LAYOUT(TSINGLEKEYINFO, 4);
PUBUNIT_LAYOUT(TCOMBOKEYINFO, 10);
PUBUNIT_LAYOUT(THID_CODE_INFO, 6);
PUBUNIT_LAYOUT(TFIREKEYINFO, 4);
PUBUNIT_LAYOUT(TMACROKEY, 6);
PUBUNIT_LAYOUT(TMACROKEYINFO, 892);
PUBUNIT_LAYOUT(TMACROKEYINFOLIST, 18736);
PUBUNIT_LAYOUT(TMACROINFOLIST_TO_DEVICE, 4464);
PUBUNIT_LAYOUT(TBUTTONFUNCINFO, 3772);
PUBUNIT_LAYOUT(TCPISTATE, 6);
PUBUNIT_LAYOUT(TLEDCONFIG, 6);
PUBUNIT_LAYOUT(TSENSORLIFT, 1);
PUBUNIT_LAYOUT(TPROFILE_MACRO_PATH, 1026);
PUBUNIT_LAYOUT(TMOUSECONFIGINFO, 84204);
PUBUNIT_LAYOUT(TProfileHeader, 60);
PUBUNIT_LAYOUT(TFUNCTIONLIST, 800);
PUBUNIT_LAYOUT(TMOUSEPROFILEINFO, 109896);
PUBUNIT_LAYOUT(TProfileSetting, 6190);
PUBUNIT_LAYOUT(TProfileSettingGroup, 30964);
PUBUNIT_LAYOUT(TALLGAMESINFO, 30960);
PUBUNIT_LAYOUT(CPI_ITEM, 9);
PUBUNIT_LAYOUT(XY, 4);
PUBUNIT_LAYOUT(CPI_UNIT, 238);
#undef PUBUNIT_LAYOUT

static_assert(alignof(CPI_ITEM) == 1);

#define PUBUNIT_AT(T, field, offset) static_assert(offsetof(T, field) == (offset), #T "." #field)
PUBUNIT_AT(TSINGLEKEYINFO, nKey1Extended, 2);
PUBUNIT_AT(TCOMBOKEYINFO, nKey1Extended, 2);
PUBUNIT_AT(TCOMBOKEYINFO, nKeyValue2, 4);
PUBUNIT_AT(TCOMBOKEYINFO, nKey2Extended, 6);
PUBUNIT_AT(TCOMBOKEYINFO, nModifier, 8);
PUBUNIT_AT(THID_CODE_INFO, nKeyValue2, 2);
PUBUNIT_AT(THID_CODE_INFO, nModifier, 4);
PUBUNIT_AT(TFIREKEYINFO, DelyValue, 2);
PUBUNIT_AT(TMACROKEY, nKeyState, 2);
PUBUNIT_AT(TMACROKEY, VALUE1, 4);
PUBUNIT_AT(TMACROKEY, VALUE2, 5);

PUBUNIT_AT(TMACROKEYINFO, MacroListCount, 768);
PUBUNIT_AT(TMACROKEYINFO, nAutoAddDelay, 772);
PUBUNIT_AT(TMACROKEYINFO, nLoopCount, 774);
PUBUNIT_AT(TMACROKEYINFO, nMacroIndex, 776);
PUBUNIT_AT(TMACROKEYINFO, MacroUse, 778);
PUBUNIT_AT(TMACROKEYINFO, szMacroName, 780);
PUBUNIT_AT(TMACROKEYINFO, Version, 880);
PUBUNIT_AT(TMACROKEYINFO, HaveErrors, 884);
PUBUNIT_AT(TMACROKEYINFO, ErrorCount, 888);
PUBUNIT_AT(TMACROKEYINFOLIST, nMacroInfoCount, 18732);
PUBUNIT_AT(TMACROINFOLIST_TO_DEVICE, nMacroInfoCount, 4460);

PUBUNIT_AT(TBUTTONFUNCINFO, SingleKey, 2);
PUBUNIT_AT(TBUTTONFUNCINFO, ComboKey, 6);
PUBUNIT_AT(TBUTTONFUNCINFO, MediaCode, 16);
PUBUNIT_AT(TBUTTONFUNCINFO, MacroInfo, 24);
PUBUNIT_AT(TBUTTONFUNCINFO, FireKey, 916);
PUBUNIT_AT(TBUTTONFUNCINFO, WheelValue, 924);
PUBUNIT_AT(TBUTTONFUNCINFO, MicMask, 3748);
PUBUNIT_AT(TBUTTONFUNCINFO, ButtonIndex, 3752);
PUBUNIT_AT(TBUTTONFUNCINFO, FunctionIndex, 3754);
PUBUNIT_AT(TBUTTONFUNCINFO, FunctionType, 3756);
PUBUNIT_AT(TBUTTONFUNCINFO, FunctionClass, 3760);
PUBUNIT_AT(TBUTTONFUNCINFO, MenuId, 3764);

PUBUNIT_AT(TCPISTATE, Y, 2);
PUBUNIT_AT(TCPISTATE, State, 4);
PUBUNIT_AT(TLEDCONFIG, G, 1);
PUBUNIT_AT(TLEDCONFIG, B, 2);
PUBUNIT_AT(TLEDCONFIG, BRIGHT_LEVEL, 3);
PUBUNIT_AT(TLEDCONFIG, BREATH_SPEED, 4);
PUBUNIT_AT(TLEDCONFIG, BREATH_SECOND, 5);

PUBUNIT_AT(TMOUSECONFIGINFO, VWheelButtonFuncInfo, 56580);
PUBUNIT_AT(TMOUSECONFIGINFO, HWheelButtonFuncInfo, 64124);
PUBUNIT_AT(TMOUSECONFIGINFO, VWheelType, 71668);
PUBUNIT_AT(TMOUSECONFIGINFO, HWheelType, 71670);
PUBUNIT_AT(TMOUSECONFIGINFO, VWheelSpeed, 71672);
PUBUNIT_AT(TMOUSECONFIGINFO, HWheelSpeed, 71674);
PUBUNIT_AT(TMOUSECONFIGINFO, HWVWheelValue, 71676);
PUBUNIT_AT(TMOUSECONFIGINFO, WheelLedOnOff, 71677);
PUBUNIT_AT(TMOUSECONFIGINFO, DoubleClickSpeed, 71678);
PUBUNIT_AT(TMOUSECONFIGINFO, PointerSpeed, 71680);
PUBUNIT_AT(TMOUSECONFIGINFO, PointerAcceleration, 71682);
PUBUNIT_AT(TMOUSECONFIGINFO, UseSystemPointerSpeedSetting, 71684);
PUBUNIT_AT(TMOUSECONFIGINFO, ReportRate, 71686);
PUBUNIT_AT(TMOUSECONFIGINFO, CurrentCPIIndex, 71688);
PUBUNIT_AT(TMOUSECONFIGINFO, CurrentCPIX, 71692);
PUBUNIT_AT(TMOUSECONFIGINFO, CurrentCPIY, 71694);
PUBUNIT_AT(TMOUSECONFIGINFO, MinCPI, 71696);
PUBUNIT_AT(TMOUSECONFIGINFO, MaxCPI, 71698);
PUBUNIT_AT(TMOUSECONFIGINFO, UseDiffentXY, 71700);
PUBUNIT_AT(TMOUSECONFIGINFO, UseCPIOnScreenFlyShow, 71722);
PUBUNIT_AT(TMOUSECONFIGINFO, CPIState, 71724);
PUBUNIT_AT(TMOUSECONFIGINFO, HWCPIState, 71790);
PUBUNIT_AT(TMOUSECONFIGINFO, CPILevel, 71856);
PUBUNIT_AT(TMOUSECONFIGINFO, AutoSwitchProfileWhenAppRun, 71858);
PUBUNIT_AT(TMOUSECONFIGINFO, ApplicationList, 71860);
PUBUNIT_AT(TMOUSECONFIGINFO, LEDConfig, 82120);
PUBUNIT_AT(TMOUSECONFIGINFO, Sensorlift, 82126);
PUBUNIT_AT(TMOUSECONFIGINFO, padding82127, 82127);
PUBUNIT_AT(TMOUSECONFIGINFO, ButtonCount, 82128);
PUBUNIT_AT(TMOUSECONFIGINFO, ProfilePath, 82132);
PUBUNIT_AT(TMOUSECONFIGINFO, MacroPath, 83158);
PUBUNIT_AT(TMOUSECONFIGINFO, ApplyCPISettingEachProfile, 84184);
PUBUNIT_AT(TMOUSECONFIGINFO, ApplyAccelaration, 84188);
PUBUNIT_AT(TMOUSECONFIGINFO, ApplyDiffirentXY, 84192);
PUBUNIT_AT(TMOUSECONFIGINFO, FireKeySpeed, 84196);
PUBUNIT_AT(TMOUSECONFIGINFO, FireKeyCount, 84200);

PUBUNIT_AT(TProfileHeader, FFileType, 4);
PUBUNIT_AT(TProfileHeader, FFileName, 12);
PUBUNIT_AT(TProfileHeader, FProfileSize, 56);
PUBUNIT_AT(TMOUSEPROFILEINFO, FunctionList, 60);
PUBUNIT_AT(TMOUSEPROFILEINFO, ConfigInfo, 860);
PUBUNIT_AT(TMOUSEPROFILEINFO, HWheelFunctionList, 85064);
PUBUNIT_AT(TMOUSEPROFILEINFO, VWheelFunctionList, 85864);
PUBUNIT_AT(TMOUSEPROFILEINFO, MacroKeyInfoList, 86664);
PUBUNIT_AT(TMOUSEPROFILEINFO, MacroInfoToDevice, 105400);
PUBUNIT_AT(TMOUSEPROFILEINFO, OtherConfig, 109864);
// The image offsets that older files are checked against.
static_assert(offsetof(TMOUSEPROFILEINFO, ConfigInfo) + offsetof(TMOUSECONFIGINFO, ButtonCount) == 82988);
static_assert(offsetof(TMOUSEPROFILEINFO, ConfigInfo) + offsetof(TMOUSECONFIGINFO, LEDConfig) == 82980);
static_assert(offsetof(TMOUSEPROFILEINFO, ConfigInfo) + offsetof(TMOUSECONFIGINFO, padding82127) == 82987);

PUBUNIT_AT(TProfileSetting, FileFolder, 2);
PUBUNIT_AT(TProfileSetting, RegistryFolder, 2050);
PUBUNIT_AT(TProfileSetting, FileName, 4098);
PUBUNIT_AT(TProfileSetting, MacroFolder, 4140);
PUBUNIT_AT(TProfileSetting, Storage, 6188);
PUBUNIT_AT(TProfileSettingGroup, ProfileIndexOfProfileGroup, 4);
PUBUNIT_AT(TProfileSettingGroup, ProfileSettingList, 12);
PUBUNIT_AT(TALLGAMESINFO, CurrentGame, 30952);
PUBUNIT_AT(TALLGAMESINFO, CurrentLanguage, 30956);

PUBUNIT_AT(CPI_UNIT, NeedApplyNewCPI, 2);
PUBUNIT_AT(CPI_UNIT, ReportLength, 4);
PUBUNIT_AT(CPI_UNIT, X_LowByte, 6);
PUBUNIT_AT(CPI_UNIT, X_HighByte, 7);
PUBUNIT_AT(CPI_UNIT, Y_LowByte, 8);
PUBUNIT_AT(CPI_UNIT, Y_HighByte, 9);
PUBUNIT_AT(CPI_UNIT, X_Counter, 10);
PUBUNIT_AT(CPI_UNIT, Y_Counter, 12);
PUBUNIT_AT(CPI_UNIT, CpiCount, 14);
PUBUNIT_AT(CPI_UNIT, CurrentCpi, 16);
PUBUNIT_AT(CPI_UNIT, HWCpi, 18);
PUBUNIT_AT(CPI_UNIT, STCpi, 108);
PUBUNIT_AT(CPI_UNIT, XYCpiRate, 198);
PUBUNIT_AT(XY, Y, 2);
#undef PUBUNIT_AT

// ---------------------------------------------------------------------------
// Images

// Every byte of the record, padding included, set to zero: what a new image
// starts as. (`T x{}` leaves padding bytes unspecified.)
template <class T>
void ZeroImage(T& record) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::memset(static_cast<void*>(&record), 0, sizeof(T));
}

// A new record on the heap, all zero bytes (the big records do not belong on
// a thread's stack).
template <class T>
std::unique_ptr<T> NewZeroImage() {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);
  std::unique_ptr<T> p(new T);
  ZeroImage(*p);
  return p;
}

template <class T>
std::span<const std::byte, sizeof(T)> ImageBytes(const T& record) {
  static_assert(std::is_trivially_copyable_v<T>);
  return std::span<const std::byte, sizeof(T)>(reinterpret_cast<const std::byte*>(&record), sizeof(T));
}

template <class T>
std::span<std::byte, sizeof(T)> ImageBytes(T& record) {
  static_assert(std::is_trivially_copyable_v<T>);
  return std::span<std::byte, sizeof(T)>(reinterpret_cast<std::byte*>(&record), sizeof(T));
}

// Copies stored bytes over the record, as storage reads do: a shorter image
// leaves the rest of the record as it was, a longer one is cut at the record
// size. Returns the number of bytes copied.
template <class T>
size_t LoadImage(T& record, std::span<const std::byte> stored) {
  static_assert(std::is_trivially_copyable_v<T>);
  const size_t n = stored.size() < sizeof(T) ? stored.size() : sizeof(T);
  if (n != 0) std::memcpy(static_cast<void*>(&record), stored.data(), n);
  return n;
}

// ---------------------------------------------------------------------------
// Bounded UTF-16 text accessors

// The text of a fixed array: up to the first null unit, at most the array.
template <size_t N>
std::u16string ReadText(const char16_t (&units)[N]) {
  size_t n = 0;
  while (n < N && units[n] != u'\0') ++n;
  return std::u16string(units, n);
}

// Stores a text of at most `limit` units (and at most N), null-filling the
// rest of the array. A text that does not fit is refused: returns false and
// leaves the array unchanged. A text of exactly N units has no terminator.
template <size_t N>
bool WriteText(char16_t (&units)[N], std::u16string_view text, size_t limit = N) {
  if (limit > N) limit = N;
  if (text.size() > limit) return false;
  std::copy(text.begin(), text.end(), units);
  std::fill(units + text.size(), units + N, u'\0');
  return true;
}

// The longest prefix of `text` with at most `maxUnits` units that does not end
// inside a surrogate pair.
std::u16string_view CutText(std::u16string_view text, size_t maxUnits);

// Stores a text cut to the array length, never inside a surrogate pair (the
// macro name, which is cut rather than refused). Returns the stored text.
template <size_t N>
std::u16string_view WriteTextCut(char16_t (&units)[N], std::u16string_view text) {
  const std::u16string_view cut = CutText(text, N);
  WriteText(units, cut);
  return cut;
}

// ---------------------------------------------------------------------------
// Constant tables

// One row of DeviceFunctionTable.
struct TDeviceFunction {
  int32_t FunctionIndex;
  int32_t FunctionClass;
  int32_t MenuId;
};

// The device function rows 0..33 and the microphone-mute row 34.
inline constexpr int kDeviceFunctionCount = 35;
extern const std::array<TDeviceFunction, kDeviceFunctionCount> DeviceFunctionTable;

// The row of a function index; nullopt for an index without a row (a damaged
// or imported profile can hold any value).
std::optional<TDeviceFunction> DeviceFunctionOf(int64_t functionIndex);
// The function class of a function index, nullopt when out of range.
std::optional<int32_t> FunctionClassOf(int64_t functionIndex);
// The menu ID of a function index, nullopt when out of range.
std::optional<int32_t> MenuIdOfFunction(int64_t functionIndex);
// The first row whose menu ID is `menuId`, nullopt when none.
std::optional<int32_t> FunctionOfMenuId(int64_t menuId);

// ButtonMaskTable: entry j is the report ID 7 and the 24-bit little-endian
// one-hot mask 1 << j that report 7 carries when button j is pressed.
inline constexpr int kButtonMaskCount = 24;
inline constexpr uint8_t kButtonReportId = 7;
using TButtonMask = std::array<uint8_t, 4>;
extern const std::array<TButtonMask, kButtonMaskCount> ButtonMaskTable;

// Entry j, nullopt when j is outside 0..23.
std::optional<TButtonMask> ButtonMaskOf(int64_t button);

// The program identity strings, the same in both programs.
enum TProgramIdentityIndex : int {
  kIdConfiguratorClass = 0,  // "TMarvaneMain": window class and single-instance name
  kIdConfiguratorExe = 1,    // "Marvane.exe"
  kIdConfiguratorTitle = 2,  // "Gaming Mouse Config" (translated before use)
  kIdMonitorClass = 3,       // "TTessoldMain"
  kIdMonitorExe = 4,         // "tessold.exe"
  kIdMonitorTitle = 5,       // "Gaming Mouse Monitor"
  kIdMonitorHint = 6,        // "Gaming Mouse Driver": tray-icon hint
};
inline constexpr int kProgramIdentityCount = 7;
extern const std::array<std::u16string_view, kProgramIdentityCount> ProgramIdentity;

// Entry i, nullopt when out of range.
std::optional<std::u16string_view> ProgramIdentityOf(int64_t index);

// ---------------------------------------------------------------------------
// Preset shortcut tables: the ready-made button functions of the menus, in
// the virtual-key form and in the HID form. 50 rows each; only the first are
// filled, the rest are zero.

inline constexpr int kPresetRows = 50;

// Row builders: the HID form takes the usages of both keys (0 for none), the
// combo form stores its arguments unchanged.
THID_CODE_INFO MakeHIDCodeInfo(uint16_t modifier, uint16_t key1, uint16_t key1Extended, uint16_t key2,
                               uint16_t key2Extended);
TCOMBOKEYINFO MakeComboKeyInfo(uint16_t modifier, uint16_t key1, uint16_t key1Extended, uint16_t key2,
                               uint16_t key2Extended);

// Ctrl with X, C, V, A, F, N, P, S (Cut, Copy, Paste, Select All, Find, New, Print, Save).
const std::array<TCOMBOKEYINFO, kPresetRows>& OfficeComboKeys();
// Alt+Tab, Alt+F4, Win+E, Win+R, Win+D, Win+L.
const std::array<TCOMBOKEYINFO, kPresetRows>& SystemComboKeys();
// Play/pause, stop, previous, next, volume up, volume down, mute, media select.
const std::array<TCOMBOKEYINFO, kPresetRows>& MediaComboKeys();
const std::array<THID_CODE_INFO, kPresetRows>& OfficeHIDCodes();
const std::array<THID_CODE_INFO, kPresetRows>& SystemHIDCodes();
const std::array<THID_CODE_INFO, kPresetRows>& MediaHIDCodes();

// Copy row `index` out; false (and `out` unchanged) for an index outside 0..49.
bool GetMediaHIDCodeInfo(int64_t index, THID_CODE_INFO& out);
bool GetOfficeComboKeyInfo(int64_t index, TCOMBOKEYINFO& out);
bool GetSystemComboKeyInfo(int64_t index, TCOMBOKEYINFO& out);

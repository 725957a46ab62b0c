#pragma once
/* The C interface of the hook library libuiHook.so, shared by the library and
 * by the hook component that loads it at run time (dlopen/dlsym by name).
 *
 * Exactly four entry points:
 *   EnableKeyboardHook(callback, context, 0)   every keyboard event goes to callback
 *   EnableMouseHook(callback, context, 0)      every mouse button and wheel event
 *   DisableKeyboardHook()                       no new keyboard calls after it returns
 *   DisableMouseHook()                          no new mouse calls after it returns
 *
 * One keyboard callback and one mouse callback at a time; an Enable replaces
 * the callback of its kind. The library calls back on a thread of its own
 * (never the caller's), one event at a time, in the order the events
 * happened; a call that was already under way when Disable returned may still
 * finish, so a context must stay valid while the library is loaded.
 * Disable never waits for that thread. Nothing is thrown across this
 * interface; the results are 1 for done and 0 for refused (bad callback or
 * third argument, no thread).
 *
 * The records have the layout of the Windows low-level hook records of a
 * 32-bit process, with fixed-width fields. */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Keyboard record (KBDLLHOOKSTRUCT). */
typedef struct UiKeyboardRecord {
  uint32_t vkCode;      /* virtual key of the key's position on a US layout, 1..254 */
  uint32_t scanCode;    /* PC set-1 scan code without its E0 prefix */
  uint32_t flags;       /* UI_KB_FLAG_* */
  uint32_t time;        /* the source's millisecond clock; wraps at 2^32 */
  uint32_t dwExtraInfo; /* 0 */
} UiKeyboardRecord;

/* Mouse record (MSLLHOOKSTRUCT). */
typedef struct UiMouseRecord {
  int32_t x;            /* pointer position on the screen, when known (else 0) */
  int32_t y;
  uint32_t mouseData;   /* high word: wheel delta (signed, +-120 a notch) or X button 1/2 */
  uint32_t flags;       /* UI_MS_FLAG_* */
  uint32_t time;        /* the source's millisecond clock; wraps at 2^32 */
  uint32_t dwExtraInfo; /* 0 */
} UiMouseRecord;

/* Keyboard flags. */
#define UI_KB_FLAG_EXTENDED 0x01u /* the scan code had the E0 prefix */
#define UI_KB_FLAG_INJECTED 0x10u /* synthesised (XTEST, the emulated mouse's injected events) */
#define UI_KB_FLAG_ALTDOWN 0x20u  /* an Alt key is down */
#define UI_KB_FLAG_UP 0x80u       /* a release */

/* Mouse flags: the component reads bit 0 only. */
#define UI_MS_FLAG_INJECTED 0x01u

/* Messages passed with each record. */
#define UI_WM_KEYDOWN 0x0100u
#define UI_WM_KEYUP 0x0101u
#define UI_WM_SYSKEYDOWN 0x0104u /* with an Alt key down */
#define UI_WM_SYSKEYUP 0x0105u
#define UI_WM_MOUSEMOVE 0x0200u
#define UI_WM_LBUTTONDOWN 0x0201u
#define UI_WM_LBUTTONUP 0x0202u
#define UI_WM_RBUTTONDOWN 0x0204u
#define UI_WM_RBUTTONUP 0x0205u
#define UI_WM_MBUTTONDOWN 0x0207u
#define UI_WM_MBUTTONUP 0x0208u
#define UI_WM_MOUSEWHEEL 0x020Au
#define UI_WM_XBUTTONDOWN 0x020Bu
#define UI_WM_XBUTTONUP 0x020Cu
#define UI_WM_MOUSEHWHEEL 0x020Eu
#define UI_WHEEL_DELTA 120

/* The callback: hook code (0 for an ordinary event), the message, the record
 * (UiKeyboardRecord or UiMouseRecord, valid during the call only) and the
 * swallow flag, 0 on entry; set it to 1 to keep the event from the other
 * programs. Only the library's X11 grabs and the emulated mouse can honour
 * it; events it cannot hold back pass whatever the flag says. */
typedef void (*UiHookProc)(void* context, int32_t code, uint32_t message, const void* record,
                           int32_t* blocked);

typedef int32_t (*UiEnableHookFn)(UiHookProc callback, void* context, int32_t reserved);
typedef int32_t (*UiDisableHookFn)(void);

#if defined(UIHOOK_BUILDING)
#define UIHOOK_EXPORT __attribute__((visibility("default")))
#else
#define UIHOOK_EXPORT
#endif

UIHOOK_EXPORT int32_t EnableKeyboardHook(UiHookProc callback, void* context, int32_t reserved);
UIHOOK_EXPORT int32_t DisableKeyboardHook(void);
UIHOOK_EXPORT int32_t EnableMouseHook(UiHookProc callback, void* context, int32_t reserved);
UIHOOK_EXPORT int32_t DisableMouseHook(void);

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(UiKeyboardRecord) == 20, "keyboard record layout");
static_assert(offsetof(UiKeyboardRecord, time) == 12, "keyboard record layout");
static_assert(sizeof(UiMouseRecord) == 24, "mouse record layout");
static_assert(offsetof(UiMouseRecord, mouseData) == 8, "mouse record layout");
static_assert(offsetof(UiMouseRecord, time) == 16, "mouse record layout");
#endif

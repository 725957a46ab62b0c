#include "platform/PointerSettings.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QStyleHints>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>

// Xlib last: its macros (None, Bool, Status) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace platform {

namespace {
// Pointer speed 1..20 as a multiple of 1/32, after the Windows speed steps.
constexpr int kSpeedIn32nds[20] = {1, 2, 4, 8, 12, 16, 20, 24, 28, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104, 112};

bool speedOk(int speed) { return speed >= 1 && speed <= 20; }
bool rowOk(int row) { return row >= 0 && row < 4; }

// Our own process's style hints live on the GUI thread; calls from a worker
// are queued there, never waited for.
void onGuiThread(std::function<void()> fn) {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app) return;  // no GUI: nothing of ours to adjust
  if (QThread::currentThread() == app->thread())
    fn();
  else
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

// The part every backend shares: settings that only reach our own process.
class ProcessLocalSettings : public PointerSettings {
 public:
  void setWheelScrollLines(int lines) override {
    if (lines < 1 || lines > 100) {
      std::fprintf(stderr, "wheel scroll lines %d out of range, unchanged\n", lines);
      return;
    }
    onGuiThread([lines] { QGuiApplication::styleHints()->setWheelScrollLines(lines); });
  }
  void setDoubleClickTime(int ms) override {
    if (ms < 1 || ms > 5000) {
      std::fprintf(stderr, "double-click time %d ms out of range, unchanged\n", ms);
      return;
    }
    onGuiThread([ms] { QGuiApplication::styleHints()->setMouseDoubleClickInterval(ms); });
  }
};

class NoDesktopPointerSettings : public ProcessLocalSettings {
 public:
  void setPointerSpeed(int) override { sayOnce(); }
  void setAcceleration(int) override { sayOnce(); }

 private:
  static void sayOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
      std::fprintf(stderr, "no X display: desktop pointer speed and acceleration are left as they are\n");
    });
  }
};

class X11PointerSettings : public ProcessLocalSettings {
 public:
  explicit X11PointerSettings(std::string display) : display_(std::move(display)) {}

  void setPointerSpeed(int speed) override {
    if (!speedOk(speed)) {
      std::fprintf(stderr, "pointer speed %d out of range, unchanged\n", speed);
      return;
    }
    std::lock_guard g(mutex_);
    speed_ = speed;
    apply(true, false);
  }
  void setAcceleration(int row) override {
    if (!rowOk(row)) {
      std::fprintf(stderr, "pointer acceleration %d has no row, unchanged\n", row);
      return;
    }
    std::lock_guard g(mutex_);
    row_ = row;
    apply(false, true);
  }

 private:
  // Under the lock: a connection of our own for this call only, since the
  // caller is a worker thread and Xlib connections are not shared.
  void apply(bool speedChanged, bool rowChanged) {
    Display* dpy = XOpenDisplay(display_.empty() ? nullptr : display_.c_str());
    if (!dpy) {
      std::fprintf(stderr, "pointer settings: cannot open display %s\n", display_.c_str());
      return;
    }
    const bool viaLibinput = applyLibinput(dpy, speedChanged, rowChanged);
    if (!viaLibinput) {
      const CorePointerControl c = corePointerControl(speed_, row_);
      XChangePointerControl(dpy, True, True, c.numerator, c.denominator, c.threshold);
    }
    XSync(dpy, False);
    XCloseDisplay(dpy);
  }

  // Sets the libinput properties on every pointer device that has them.
  // False when no device has them (an X server without libinput).
  bool applyLibinput(Display* dpy, bool speedChanged, bool rowChanged) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(dpy, "XInputExtension", &opcode, &event, &error)) return false;
    int major = 2, minor = 0;
    if (XIQueryVersion(dpy, &major, &minor) != Success) return false;
    const Atom speedAtom = XInternAtom(dpy, "libinput Accel Speed", True);
    const Atom profileAtom = XInternAtom(dpy, "libinput Accel Profile Enabled", True);
    const Atom floatAtom = XInternAtom(dpy, "FLOAT", True);
    if (speedAtom == 0 || floatAtom == 0) return false;  // the server never heard of libinput
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(dpy, XIAllDevices, &count);
    bool any = false;
    for (int i = 0; i < count; ++i) {
      if (devices[i].use != XISlavePointer) continue;
      const int id = devices[i].deviceid;
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      if (XIGetProperty(dpy, id, speedAtom, 0, 1, False, AnyPropertyType, &type, &format, &items, &after,
                        &data) != Success ||
          type != floatAtom || format != 32 || items != 1) {
        if (data) XFree(data);
        continue;
      }
      XFree(data);
      any = true;
      if (speedChanged || rowChanged) {
        float value = static_cast<float>(libinputAccelSpeed(speed_));
        // XI2 takes format-32 data as 4-byte values (not longs, unlike
        // XChangeProperty).
        unsigned char bytes[4];
        std::memcpy(bytes, &value, 4);
        XIChangeProperty(dpy, id, speedAtom, floatAtom, 32, XIPropModeReplace, bytes, 1);
      }
      if (rowChanged && profileAtom != 0) setProfile(dpy, id, profileAtom);
    }
    if (devices) XIFreeDeviceInfo(devices);
    return any;
  }

  void setProfile(Display* dpy, int id, Atom profileAtom) {
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XIGetProperty(dpy, id, profileAtom, 0, 8, False, XA_INTEGER, &type, &format, &items, &after, &data) !=
            Success ||
        format != 8 || items < 2) {
      if (data) XFree(data);
      return;
    }
    // Item 0 is the adaptive profile, item 1 the flat one; later items stay off.
    std::vector<unsigned char> flags(items, 0);
    flags[libinputAdaptiveProfile(row_) ? 0 : 1] = 1;
    XFree(data);
    XIChangeProperty(dpy, id, profileAtom, XA_INTEGER, 8, XIPropModeReplace, flags.data(),
                     static_cast<int>(flags.size()));
  }

  std::string display_;
  std::mutex mutex_;
  int speed_ = 10;  // what the desktop starts with until we are told
  int row_ = 0;
};
}  // namespace

double libinputAccelSpeed(int speed) {
  if (speed < 1) speed = 1;
  if (speed > 20) speed = 20;
  // Both halves reach the ends of libinput's range: 1 -> -1, 10 -> 0, 20 -> 1.
  return speed <= 10 ? (speed - 10) / 9.0 : (speed - 10) / 10.0;
}

bool libinputAdaptiveProfile(int row) { return rowOk(row) && kAccelerationRows[row].acceleration != 0; }

CorePointerControl corePointerControl(int speed, int row) {
  if (!speedOk(speed)) speed = 10;
  if (!rowOk(row)) row = 0;
  const AccelerationRow& r = kAccelerationRows[row];
  const int factor = r.acceleration != 0 ? 2 : 1;
  int num = kSpeedIn32nds[speed - 1] * factor;
  int den = 32;
  const int g = std::gcd(num, den);
  num /= g;
  den /= g;
  // Without acceleration the multiplier applies to all but the smallest motion.
  const int threshold = r.acceleration != 0 ? r.threshold1 : 1;
  return {num, den, threshold};
}

std::unique_ptr<PointerSettings> createX11PointerSettings(const std::string& displayName) {
  return std::make_unique<X11PointerSettings>(displayName);
}

std::unique_ptr<PointerSettings> createNoDesktopPointerSettings() {
  return std::make_unique<NoDesktopPointerSettings>();
}

std::unique_ptr<PointerSettings> createPointerSettings() {
  const char* display = std::getenv("DISPLAY");
  const bool onWayland = qGuiApp && QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  if (display && *display && !onWayland) {
    if (Display* dpy = XOpenDisplay(display)) {
      XCloseDisplay(dpy);
      return createX11PointerSettings(display);
    }
  }
  return createNoDesktopPointerSettings();
}

}  // namespace platform

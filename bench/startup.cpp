// Start-up of the real programs, measured from outside (offscreen, private
// store and folders, emulated mouse present): `tessold` start to its message
// socket "TTessoldMain" accepting and to its DPI tables in the driver log;
// then, with the monitor running, `Marvane` start to its socket
// "TMarvaneMain" accepting and to the first feature report the emulated
// mouse sees from it. Resident memory (VmRSS) of both a second after.
//
// Given an X server (--x-display, a private Xvfb started with -br: a plain
// black root and no window manager), `Marvane` runs on it instead of
// offscreen and two more figures come from that server: the map of its main
// window and the first look at the window in which its pixels differ
// substantially from what the screen showed there before the spawn. The
// window's background is None, so until Qt has put its first frame there the
// window shows what was under it; nothing else tells another process that a
// paint happened.
//
//   bench_startup [--runs N] [--x-display :N] [--look-ms MS] [--paint-image FILE.png]
//     --runs N         default 5; the first run meets an empty store
//     --x-display :N   measure the window's map and first paint on that server
//     --look-ms MS     from the end of one look at the window to the next (1)
//     --paint-image F  save the first run's window as the paint look saw it
#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <thread>

#include "bench/Desk.h"
#include "bench/ProcStats.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/MessageChannel.h"

// Last: Xlib's macros (None, Status, Bool) would clash with the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The share of the window's pixels that must differ from the screen before
// the spawn to count as painted. The skin covers the whole window and none of
// it is black (its darkest part, the background, is 14,16,19 on a 0,0,0
// root), so a whole frame changes nearly every pixel; a look that lands
// while the frame is still being put (Qt may put a large one in strips) is
// not taken for the paint unless most of it is there. A look's time is its
// answer's arrival: the paint happened before it, after the look before.
constexpr double kPaintedShare = 0.5;

int ignoreXError(Display*, XErrorEvent*) { return 0; }

// The configurator's main window on one X server, seen from outside.
class PaintWatch {
 public:
  ~PaintWatch() {
    if (screenBefore_) XDestroyImage(screenBefore_);
    if (display_) XCloseDisplay(display_);
  }

  // Each look is a full XGetImage, which the single-threaded X server serves
  // between the configurator's own requests: fewer looks, less in its way.
  bool open(const std::string& name, double lookMs, std::string& error) {
    lookMs_ = lookMs;
    display_ = XOpenDisplay(name.c_str());
    if (!display_) {
      error = "cannot open X display " + name;
      return false;
    }
    // A window that goes away between the map and a look must not end the
    // bench: the failed request just returns nothing.
    XSetErrorHandler(ignoreXError);
    root_ = DefaultRootWindow(display_);
    pidAtom_ = XInternAtom(display_, "_NET_WM_PID", False);
    // No window manager: every top-level is a child of the root, and its
    // map is reported to whoever selected the root's substructure.
    XSelectInput(display_, root_, SubstructureNotifyMask);
    XSync(display_, False);
    return true;
  }

  // Before the spawn: forget earlier windows, keep what the screen shows.
  bool arm(std::string& error) {
    XSync(display_, False);
    while (XPending(display_)) {
      XEvent e;
      XNextEvent(display_, &e);
    }
    if (screenBefore_) XDestroyImage(screenBefore_);
    XWindowAttributes a;
    XGetWindowAttributes(display_, root_, &a);
    screenBefore_ = XGetImage(display_, root_, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!screenBefore_ || screenBefore_->bits_per_pixel != 32) {
      error = "cannot read the X screen (32 bits per pixel wanted)";
      return false;
    }
    window_ = 0;
    mapped = painted = -1;
    share = shareBefore = 0;
    looks = 0;
    lookTimes.clear();
    return true;
  }

  bool done() const { return painted >= 0; }

  // One step of the caller's polling loop: the map of `pid`'s top-level,
  // then a look at its pixels at most every lookMs after the last one.
  void poll(pid_t pid, bench::Clock::time_point t0, const std::string& saveAs) {
    const auto interval = std::chrono::duration<double, std::milli>(lookMs_);
    while (window_ == 0 && XPending(display_)) {
      XEvent e;
      XNextEvent(display_, &e);
      if (e.type != MapNotify || e.xmap.event != root_ || !belongsTo(e.xmap.window, pid)) continue;
      mapped = bench::msSince(t0, bench::Clock::now());
      XWindowAttributes a;
      if (!XGetWindowAttributes(display_, e.xmap.window, &a)) continue;
      window_ = e.xmap.window;
      x_ = a.x;
      y_ = a.y;
      width_ = a.width;
      height_ = a.height;
      lastLook_ = {};
    }
    if (window_ == 0 || done()) return;
    const auto asked = bench::Clock::now();
    if (asked - lastLook_ < interval) return;
    XImage* image = XGetImage(display_, window_, 0, 0, unsigned(width_), unsigned(height_), AllPlanes, ZPixmap);
    const auto answered = bench::Clock::now();
    lastLook_ = answered;
    if (!image) return;
    if (image->bits_per_pixel != 32) {  // the comparison reads 32-bit pixels
      XDestroyImage(image);
      return;
    }
    ++looks;
    lookTimes.push_back(bench::msSince(asked, answered));
    share = differingShare(image);
    if (share < kPaintedShare) shareBefore = std::max(shareBefore, share);
    if (share >= kPaintedShare) {
      painted = bench::msSince(t0, answered);
      if (!saveAs.empty()) save(image, saveAs);
    }
    XDestroyImage(image);
  }

  double mapped = -1, painted = -1;
  double share = 0;        // of the window's pixels differing at the last look
  double shareBefore = 0;  // the most at any look before that one
  int looks = 0;
  std::vector<double> lookTimes;  // each look's round trip, ms
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool belongsTo(Window w, pid_t pid) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    bool match = false;
    bool known = false;
    if (XGetWindowProperty(display_, w, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format, &count, &left, &data) ==
            Success &&
        data && format == 32 && count == 1) {
      known = true;
      match = pid_t(*reinterpret_cast<unsigned long*>(data)) == pid;
    }
    if (data) XFree(data);
    if (known) return match;
    // Without the pid property the class names the program.
    XClassHint hint{};
    if (XGetClassHint(display_, w, &hint)) {
      match = (hint.res_class && strcasecmp(hint.res_class, "Marvane") == 0) ||
              (hint.res_name && strcasecmp(hint.res_name, "Marvane") == 0);
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    return match;
  }

  // Compared pixel by pixel (24 bits of colour) with the same area of the
  // screen before the spawn.
  double differingShare(XImage* image) const {
    long differ = 0;
    for (int row = 0; row < height_; ++row) {
      const int sy = y_ + row;
      if (sy < 0 || sy >= screenBefore_->height) continue;
      const auto* now = reinterpret_cast<const uint32_t*>(image->data + long(row) * image->bytes_per_line);
      const auto* was = reinterpret_cast<const uint32_t*>(screenBefore_->data + long(sy) * screenBefore_->bytes_per_line);
      for (int col = 0; col < width_; ++col) {
        const int sx = x_ + col;
        const uint32_t before = sx >= 0 && sx < screenBefore_->width ? was[sx] : 0;
        differ += ((now[col] ^ before) & 0xffffffu) != 0;
      }
    }
    return double(differ) / (double(width_) * height_);
  }

  void save(XImage* image, const std::string& path) const {
    QImage copy(reinterpret_cast<const uchar*>(image->data), width_, height_, image->bytes_per_line,
                QImage::Format_RGB32);
    if (!copy.save(QString::fromStdString(path)))
      std::fprintf(stderr, "bench_startup: cannot save %s\n", path.c_str());
  }

  double lookMs_ = 1;
  Display* display_ = nullptr;
  Window root_ = 0;
  Atom pidAtom_ = 0;
  XImage* screenBefore_ = nullptr;
  Window window_ = 0;
  int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  bench::Clock::time_point lastLook_;
};

struct Run {
  double monitorSocket = -1, monitorTable1 = -1, monitorTable2 = -1;
  double configSocket = -1, configReport = -1;
  double configMapped = -1, configPainted = -1;
  double paintedShare = 0;  // of the window's pixels at the look that saw the paint
  double shareBefore = 0;   // at most, at the looks before it
  int looks = 0;
  double lookMedian = 0;
  double monitorRss = 0, configRss = 0;
};

int tables(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
  return n;
}

int setReports(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& e : mouse.wireLog()) n += e.direction == platform::emu::Direction::SetFeature;
  return n;
}

std::string ms(double v, bool measured = true) {
  char b[32];
  if (!measured)
    std::snprintf(b, sizeof b, "-");
  else if (v < 0)
    std::snprintf(b, sizeof b, "none");
  else
    std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string xDisplay, paintImage;
  double lookMs = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--x-display") == 0 && i + 1 < argc) {
      xDisplay = argv[++i];
    } else if (std::strcmp(argv[i], "--look-ms") == 0 && i + 1 < argc) {
      lookMs = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--paint-image") == 0 && i + 1 < argc) {
      paintImage = argv[++i];
    } else {
      std::fprintf(stderr, "usage: bench_startup [--runs N] [--x-display :N] [--look-ms MS] [--paint-image FILE.png]\n");
      return 2;
    }
  }
  if (runs < 1) {
    std::fprintf(stderr, "bench_startup: --runs wants a positive number\n");
    return 2;
  }
  if (!(lookMs > 0)) {
    std::fprintf(stderr, "bench_startup: --look-ms wants a positive number\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  bench::Desk desk;
  std::string error;
  if (!desk.start(true, error)) {
    std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
    return 1;
  }
  // Before the first spawn: the root's substructure is selected from here on.
  PaintWatch watch;
  const bool onX = !xDisplay.empty();
  if (onX && !watch.open(xDisplay, lookMs, error)) {
    std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
    return 1;
  }
  auto& mouse = desk.mouse();
  const std::string monitorSocket = platform::messageSocketPath(platform::kMonitorClass);
  const std::string configSocket = platform::messageSocketPath(platform::kConfiguratorClass);
  std::vector<Run> results;
  for (int r = 0; r < runs; ++r) {
    Run run;
    const int tablesBefore = tables(mouse);
    bench::Child tessold;
    if (!tessold.start("tessold", desk.root() + "/tessold.log", error)) {
      std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
      return 1;
    }
    const auto t0 = tessold.started();
    while (run.monitorSocket < 0 || run.monitorTable2 < 0) {
      const auto now = bench::Clock::now();
      if (run.monitorSocket < 0 && bench::socketAccepts(monitorSocket)) run.monitorSocket = bench::msSince(t0, now);
      const int t = tables(mouse) - tablesBefore;
      if (run.monitorTable1 < 0 && t >= 1) run.monitorTable1 = bench::msSince(t0, now);
      if (run.monitorTable2 < 0 && t >= 2) run.monitorTable2 = bench::msSince(t0, now);
      if (bench::msSince(t0, now) > 20000 || !tessold.running()) {
        std::fprintf(stderr, "bench_startup: tessold did not get ready\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    mouse.clearLog();
    if (onX && !watch.arm(error)) {
      std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
      return 1;
    }
    // Only the configurator goes to the X server; the monitor stays offscreen.
    if (onX) {
      ::setenv("QT_QPA_PLATFORM", "xcb", 1);
      ::setenv("DISPLAY", xDisplay.c_str(), 1);
    }
    bench::Child marvane;
    const bool spawned = marvane.start("Marvane", desk.root() + "/marvane.log", error);
    if (onX) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::unsetenv("DISPLAY");
    }
    if (!spawned) {
      std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
      return 1;
    }
    const auto t1 = marvane.started();
    const std::string saveAs = r == 0 ? paintImage : std::string();
    while (run.configSocket < 0 || run.configReport < 0 || (onX && !watch.done())) {
      const auto now = bench::Clock::now();
      if (run.configSocket < 0 && bench::socketAccepts(configSocket)) run.configSocket = bench::msSince(t1, now);
      if (run.configReport < 0 && setReports(mouse) > 0) run.configReport = bench::msSince(t1, now);
      if (onX) watch.poll(marvane.pid(), t1, saveAs);
      // The first report may never come; the socket is the ready sign then.
      if (bench::msSince(t1, now) > 10000 || !marvane.running()) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (onX) {
      run.configMapped = watch.mapped;
      run.configPainted = watch.painted;
      run.paintedShare = watch.share;
      run.shareBefore = watch.shareBefore;
      run.looks = watch.looks;
      run.lookMedian = bench::percentile(watch.lookTimes, 50);
      if (watch.painted < 0)
        std::fprintf(stderr, "bench_startup: run %d: the window was %s\n", r + 1,
                     watch.mapped < 0 ? "never mapped" : "mapped but never painted");
    }
    if (run.configSocket < 0) {
      std::fprintf(stderr, "bench_startup: Marvane did not get ready\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    run.monitorRss = double(bench::residentKiB(tessold.pid())) / 1024;
    run.configRss = double(bench::residentKiB(marvane.pid())) / 1024;
    marvane.stop();
    tessold.stop();
    results.push_back(run);
  }

  if (onX)
    std::printf("start-up, real programs, tessold offscreen, Marvane on X display %s, emulated mouse present, %u cores\n",
                xDisplay.c_str(), std::thread::hardware_concurrency());
  else
    std::printf("start-up, real programs, offscreen, emulated mouse present, %u cores\n",
                std::thread::hardware_concurrency());
  std::printf("%-5s %12s %12s %12s %12s %12s %12s %12s %10s %10s\n", "run", "mon socket", "mon table1",
              "mon table2", "conf socket", "conf report", "conf mapped", "conf painted", "mon MB", "conf MB");
  for (size_t i = 0; i < results.size(); ++i) {
    const Run& r = results[i];
    std::printf("%-5zu %12s %12s %12s %12s %12s %12s %12s %10.1f %10.1f%s\n", i + 1, ms(r.monitorSocket).c_str(),
                ms(r.monitorTable1).c_str(), ms(r.monitorTable2).c_str(), ms(r.configSocket).c_str(),
                ms(r.configReport).c_str(), ms(r.configMapped, onX).c_str(), ms(r.configPainted, onX).c_str(),
                r.monitorRss, r.configRss, i == 0 ? "  (empty store)" : "");
  }
  std::printf("(times in ms from the spawn; MB: VmRSS one second after both were ready%s)\n",
              onX ? " and the window painted" : "");
  if (!onX) {
    std::printf("conf mapped, conf painted: not measured (no X display; give one with --x-display)\n");
    return 0;
  }
  std::printf("window %dx%d; painted: first look with at least %.0f %% of its pixels changed; looks %g ms apart\n",
              watch.width(), watch.height(), kPaintedShare * 100, lookMs);
  for (size_t i = 0; i < results.size(); ++i) {
    const Run& r = results[i];
    std::printf("  run %zu: %.1f %% changed at that look, at most %.1f %% before it; %d looks after the map, "
                "a look takes %.2f ms (median)\n",
                i + 1, r.paintedShare * 100, r.shareBefore * 100, r.looks, r.lookMedian);
  }
  return 0;
}

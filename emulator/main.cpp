// mouse-emulator: the emulated gaming mouse and its remote control.
//
//   mouse-emulator serve [--mice N] [--blank] [--uhid] [--driver-dir DIR] [--driver-name NAME]
//   mouse-emulator [--device N] peek ADDR LEN | poke ADDR HEX | press N | dpi LEVEL |
//                  mode SLOT | unplug | plug | log | clear-log | led | fail-next N |
//                  raw HEX | reset [--blank] | driver-log |
//                  key VK down|up | wheel up|down | button N down|up | input-log
//
// The socket is --socket PATH, else $MOUSE_EMULATOR, else
// $XDG_RUNTIME_DIR/mouse-emulator.sock. Numbers are decimal or 0x-hex.

#include "emulator/ControlClient.h"
#include "emulator/EmulatorServer.h"
#include "emulator/UhidBridge.h"
#include "platform/FilterDriverProtocol.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using emulator::ControlClient;

const char* kUsage =
    "usage: mouse-emulator [--socket PATH] [--device N] COMMAND [ARGS]\n"
    "  serve [--mice N] [--blank] [--uhid] [--driver-dir DIR] [--driver-name NAME]\n"
    "                               serve the emulated mouse (N = 1..8 mice) and its\n"
    "                               filter driver (DIR defaults to $MOUSE_DRIVER_DIR,\n"
    "                               else the runtime folder; NAME to zovadrv00001);\n"
    "                               --uhid: each mouse also a kernel HID device\n"
    "                               through /dev/uhid (needs access to it)\n"
    "  peek ADDR LEN                print LEN bytes of memory at ADDR in hex\n"
    "  poke ADDR HEX                write bytes (hex, e.g. 0104ff) at ADDR\n"
    "  press N                      button N (1..24): report 7, then the zero report\n"
    "  dpi LEVEL                    DPI level 0..3, the configurator's \"DPI1\" to\n"
    "                               \"DPI4\" (dpi 2 is \"DPI3\"): report 8 kind 2\n"
    "  mode SLOT                    hardware mode 0 or 1, the configurator's \"Mode 1\"\n"
    "                               or \"Mode 2\" (mode 1 is \"Mode 2\"): report 8 kind 1\n"
    "  raw HEX                      send one input report as given\n"
    "  unplug | plug                remove or attach the mouse\n"
    "  fail-next N                  make the next N feature transfers fail\n"
    "  reset [--blank]              memory back to the factory image (or zeros)\n"
    "  log | clear-log              print or clear the wire log (and the driver log);\n"
    "                               each line starts with t=MS since the emulator started\n"
    "  driver-log                   requests the filter driver received: code, bytes\n"
    "  led                          the LED bytes latched by command 4 and the\n"
    "                               colour they show (R G B, decimal)\n"
  "  key VK down|up [--extended]  a key (virtual key 1..254) of the emulated desk,\n"
  "  wheel up|down [--delta N]    a wheel notch (N = 1..32767, default 120) or\n"
  "  button N down|up             a button (1 left, 2 right, 3 middle, 4 back, 5 forward),\n"
  "                               offered to the hooks; prints passed or swallowed.\n"
  "                               Each takes [--time MS] (else the emulator's clock)\n"
  "                               and [--injected] (flagged as synthesised)\n"
  "  input-log                    the key, button and wheel events that reached\n"
  "                               applications, one a line (clear-log clears them too)\n"
    "The socket defaults to $MOUSE_EMULATOR, else $XDG_RUNTIME_DIR/mouse-emulator.sock.\n";

int usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "mouse-emulator: %s\n", why.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

int fail(const std::string& what, const std::string& why) {
  std::fprintf(stderr, "mouse-emulator: %s: %s\n", what.c_str(), why.c_str());
  return 1;
}

std::optional<uint64_t> parseNumber(const std::string& s, uint64_t max) {
  if (s.empty()) return std::nullopt;
  int base = 10;
  std::size_t start = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    start = 2;
  }
  uint64_t v = 0;
  for (std::size_t i = start; i < s.size(); ++i) {
    const char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    v = v * uint64_t(base) + uint64_t(d);
    if (v > max) return std::nullopt;
  }
  return v;
}

// Hex digits, optionally separated by blanks or colons, an even count.
std::optional<std::vector<uint8_t>> parseHex(const std::vector<std::string>& parts) {
  std::string digits;
  for (const auto& p : parts)
    for (char c : p)
      if (c != ' ' && c != ':') digits += c;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.erase(0, 2);
  if (digits.empty() || digits.size() % 2) return std::nullopt;
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const auto v = parseNumber("0x" + digits.substr(i, 2), 0xFF);
    if (!v) return std::nullopt;
    out.push_back(uint8_t(*v));
  }
  return out;
}

// key/wheel/button: the event and its options, or a reason in why.
std::optional<platform::emu::InputEvent> parseInputEvent(const std::string& cmd,
                                                         const std::vector<std::string>& rest,
                                                         bool& timeGiven, std::string& why);

int serve(const std::string& socketPath, const std::vector<std::string>& args) {
  emulator::HubOptions options;
  bool uhid = false;
  std::string driverDir;
  std::string driverName(platform::kDefaultDriverDeviceName);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--driver-dir" && i + 1 < args.size()) {
      driverDir = args[++i];
    } else if (args[i] == "--driver-name" && i + 1 < args.size()) {
      driverName = args[++i];
    } else if (args[i] == "--blank") {
      options.blank = true;
    } else if (args[i] == "--uhid") {
      uhid = true;
    } else if (args[i] == "--mice" && i + 1 < args.size()) {
      const auto n = parseNumber(args[++i], platform::emu::kMaxDevices);
      if (!n || *n < 1) return usage("--mice takes 1..8");
      options.mice = int(*n);
    } else {
      return usage("unknown serve option " + args[i]);
    }
  }
  // Signals are taken synchronously below; block them before the server
  // thread exists so it inherits the mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  emulator::EmulatorServer server(options);
  if (driverDir.empty()) driverDir = platform::driverSocketDir();
  if (driverDir.empty()) return fail("serve", "no folder for the filter driver's socket");
  server.setDriverSocket(platform::driverSocketPath(driverName, driverDir));
  std::string error;
  if (!server.start(socketPath, error)) return fail("serve", error);
  // The kernel devices come once the socket serves, so a plug or unplug
  // from the control endpoint already reaches them.
  emulator::UhidBridge bridge(server.hub());
  if (uhid && !bridge.start(error)) {
    server.stop();
    return fail("serve --uhid", error);
  }
  // The line to export; also the sign that the socket accepts connections.
  std::printf("MOUSE_EMULATOR=%s\n", socketPath.c_str());
  std::fflush(stdout);
  std::fprintf(stderr,
               "mouse-emulator: serving %d %s on %s, its filter driver on %s (stop with Ctrl+C)\n",
               options.mice, options.mice > 1 ? "mice" : "mouse", socketPath.c_str(),
               server.driverSocketPath().c_str());
  if (uhid) std::fprintf(stderr, "mouse-emulator: the mice are kernel HID devices too (%s)\n",
                         emulator::UhidBridge::kDevicePath);
  int sig = 0;
  sigwait(&set, &sig);
  bridge.stop();
  server.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string socketPath;
  int device = 0;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--socket" && i + 1 < args.size()) {
      socketPath = args[++i];
    } else if (args[i] == "--device" && i + 1 < args.size()) {
      const auto n = parseNumber(args[++i], platform::emu::kMaxDevices - 1);
      if (!n) return usage("--device takes 0..7");
      device = int(*n);
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage("no command");
  const std::string cmd = args[i];
  const std::vector<std::string> rest(args.begin() + std::ptrdiff_t(i) + 1, args.end());
  if (socketPath.empty()) socketPath = platform::emu::defaultSocketPath();
  if (socketPath.empty()) return fail(cmd, "no socket path (set MOUSE_EMULATOR)");

  if (cmd == "serve") return serve(socketPath, rest);

  static const char* kKnown[] = {"peek", "poke", "press", "dpi", "mode", "raw", "unplug",
                                 "plug", "fail-next", "reset", "log", "clear-log", "led",
                                 "driver-log", "key", "wheel", "button", "input-log"};
  bool known = false;
  for (const char* k : kKnown) known = known || cmd == k;
  if (!known) return usage("unknown command " + cmd);

  auto expect = [&](std::size_t n) { return rest.size() == n; };
  std::string error;
  ControlClient client;
  if (!client.connect(socketPath, error)) return fail(cmd, error);

  if (cmd == "peek") {
    if (!expect(2)) return usage("peek ADDR LEN");
    const auto addr = parseNumber(rest[0], 0xFFFF);
    const auto len = parseNumber(rest[1], 65536);
    if (!addr || !len) return usage("peek: ADDR is 0..65535, LEN 0..65536");
    std::vector<uint8_t> bytes;
    if (!client.peek(device, uint16_t(*addr), uint32_t(*len), bytes, error))
      return fail("peek", error);
    std::printf("%s\n", emulator::hexBytes(bytes).c_str());
    return 0;
  }
  if (cmd == "poke" || cmd == "raw") {
    if (rest.empty() || (cmd == "poke" && rest.size() < 2)) return usage(cmd + " needs bytes");
    std::optional<uint64_t> addr = 0;
    if (cmd == "poke") addr = parseNumber(rest[0], 0xFFFF);
    const auto bytes =
        parseHex(std::vector<std::string>(rest.begin() + (cmd == "poke" ? 1 : 0), rest.end()));
    if (!addr || !bytes) return usage(cmd + ": bad address or hex bytes");
    const bool ok = cmd == "poke" ? client.poke(device, uint16_t(*addr), *bytes, error)
                                  : client.rawInput(device, *bytes, error);
    return ok ? 0 : fail(cmd, error);
  }
  if (cmd == "press" || cmd == "dpi" || cmd == "mode" || cmd == "fail-next") {
    if (!expect(1)) return usage(cmd + " takes one number");
    const auto v = parseNumber(rest[0], 0xFFFFFFFF);
    if (!v) return usage(cmd + ": not a number: " + rest[0]);
    bool ok = false;
    if (cmd == "press") ok = *v <= 24 && client.press(device, int(*v), error);
    // The mouse has four levels ("DPI1" .. "DPI4").
    if (cmd == "dpi") ok = *v <= 3 && client.dpi(device, int(*v), error);
    if (cmd == "mode") ok = *v <= 1 && client.mode(device, int(*v), error);
    if (cmd == "fail-next") ok = client.failNext(device, uint32_t(*v), error);
    if (!ok && error.empty()) {
      error = cmd == "press" ? "button must be 1..24"
              : cmd == "dpi" ? "DPI level must be 0..3 (\"DPI1\" .. \"DPI4\")"
                             : "slot must be 0 or 1 (\"Mode 1\" or \"Mode 2\")";
    }
    return ok ? 0 : fail(cmd, error);
  }
  if (cmd == "unplug" || cmd == "plug") {
    if (!expect(0)) return usage(cmd + " takes no arguments");
    const bool ok = cmd == "unplug" ? client.unplug(device, error) : client.plug(device, error);
    return ok ? 0 : fail(cmd, error);
  }
  if (cmd == "reset") {
    const bool blank = rest.size() == 1 && rest[0] == "--blank";
    if (!rest.empty() && !blank) return usage("reset [--blank]");
    return client.reset(device, blank, error) ? 0 : fail(cmd, error);
  }
  if (cmd == "log") {
    if (!expect(0)) return usage("log takes no arguments");
    std::vector<platform::emu::LogEntry> entries;
    if (!client.log(entries, error)) return fail(cmd, error);
    for (const auto& e : entries) std::printf("%s\n", emulator::formatLogEntry(e).c_str());
    return 0;
  }
  if (cmd == "driver-log") {
    if (!expect(0)) return usage("driver-log takes no arguments");
    std::vector<emulator::DriverRequest> entries;
    if (!client.driverLog(entries, error)) return fail(cmd, error);
    for (const auto& e : entries) std::printf("%s\n", emulator::formatDriverRequest(e).c_str());
    return 0;
  }
  if (cmd == "key" || cmd == "wheel" || cmd == "button") {
    bool timeGiven = false;
    std::string why;
    const auto event = parseInputEvent(cmd, rest, timeGiven, why);
    if (!event) return usage(why);
    bool swallowed = false;
    if (!client.inputEvent(*event, timeGiven, swallowed, error)) return fail(cmd, error);
    std::printf("%s\n", swallowed ? "swallowed" : "passed");
    return 0;
  }
  if (cmd == "input-log") {
    if (!expect(0)) return usage("input-log takes no arguments");
    std::vector<platform::emu::InputEvent> events;
    if (!client.inputLog(events, error)) return fail(cmd, error);
    for (const auto& e : events) std::printf("%s\n", platform::emu::formatInputEvent(e).c_str());
    return 0;
  }
  if (cmd == "clear-log") {
    if (!expect(0)) return usage("clear-log takes no arguments");
    return client.clearLog(error) ? 0 : fail(cmd, error);
  }
  // led
  if (!expect(0)) return usage("led takes no arguments");
  std::optional<std::array<uint8_t, 5>> led;
  if (!client.led(device, led, error)) return fail(cmd, error);
  std::printf("%s\n", led ? emulator::formatLed(*led).c_str() : "none");
  return 0;
}

namespace {

std::optional<platform::emu::InputEvent> parseInputEvent(const std::string& cmd,
                                                         const std::vector<std::string>& rest,
                                                         bool& timeGiven, std::string& why) {
  using platform::emu::InputKind;
  platform::emu::InputEvent e;
  const char* form = cmd == "key"     ? "key VK down|up [--extended] [--time MS] [--injected]"
                     : cmd == "wheel" ? "wheel up|down [--delta N] [--time MS] [--injected]"
                                      : "button N down|up [--time MS] [--injected]";
  why = std::string("usage: ") + form;
  std::size_t i = 0;
  auto next = [&]() -> const std::string* { return i < rest.size() ? &rest[i++] : nullptr; };
  if (cmd == "wheel") {
    e.kind = InputKind::Wheel;
    const auto* dir = next();
    if (!dir || (*dir != "up" && *dir != "down")) return std::nullopt;
    e.delta = int16_t(*dir == "up" ? 120 : -120);
  } else {
    e.kind = cmd == "key" ? InputKind::Key : InputKind::Button;
    const auto* code = next();
    const auto* state = next();
    if (!code || !state || (*state != "down" && *state != "up")) return std::nullopt;
    const auto v = parseNumber(*code, 0xFFFF);
    const bool inRange = v && (cmd == "key" ? (*v >= 1 && *v <= 254) : (*v >= 1 && *v <= 5));
    if (!inRange) {
      why = cmd == "key" ? "key: VK must be 1..254" : "button: N must be 1..5";
      return std::nullopt;
    }
    e.code = uint16_t(*v);
    e.down = *state == "down";
  }
  timeGiven = false;
  while (const auto* opt = next()) {
    if (*opt == "--injected") {
      e.injected = true;
    } else if (*opt == "--extended" && cmd == "key") {
      e.extended = true;
    } else if (*opt == "--time") {
      const auto* v = next();
      const auto t = v ? parseNumber(*v, 0xFFFFFFFF) : std::nullopt;
      if (!t) {
        why = cmd + ": --time takes 0..4294967295";
        return std::nullopt;
      }
      e.time = uint32_t(*t);
      timeGiven = true;
    } else if (*opt == "--delta" && cmd == "wheel") {
      const auto* v = next();
      const auto d = v ? parseNumber(*v, 32767) : std::nullopt;
      if (!d || *d == 0) {
        why = "wheel: --delta takes 1..32767";
        return std::nullopt;
      }
      e.delta = int16_t(e.delta > 0 ? int(*d) : -int(*d));
    } else {
      why = cmd + ": unknown option " + *opt + "\n" + why;
      return std::nullopt;
    }
  }
  return e;
}

}  // namespace

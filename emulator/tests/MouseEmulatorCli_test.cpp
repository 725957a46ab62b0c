// The `mouse-emulator` command line against a running `serve`.

#include "emulator/EmulatorServer.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/FilterDriverClient.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/HidBackend.h"
#include "platform/testing/StalledPeers.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <regex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

using emulator::testing::EmulatorProcess;

namespace {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

CliRun run(const QStringList& args, const std::string& socket) {
  // Whatever the command would make in the runtime folders stays in here.
  static QTemporaryDir runtime;
  QProcess p;
  auto env = QProcessEnvironment::systemEnvironment();
  for (const char* var : {"HOME", "XDG_RUNTIME_DIR", "MOUSE_RUNTIME_DIR", "MOUSE_DRIVER_DIR"})
    env.insert(var, runtime.path());
  if (socket.empty())
    env.remove("MOUSE_EMULATOR");
  else
    env.insert("MOUSE_EMULATOR", QString::fromStdString(socket));
  p.setProcessEnvironment(env);
  p.start(QString::fromStdString(EmulatorProcess::executable()), args);
  CliRun r;
  if (!p.waitForFinished(30000)) return r;
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

class MouseEmulatorCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sinceBeforeStart.start();
    ASSERT_TRUE(mouse.start()) << mouse.lastError();
  }
  CliRun cli(const QStringList& args) { return run(args, mouse.socketPath()); }
  EmulatorProcess mouse;
  QElapsedTimer sinceBeforeStart;
};

// The lines of `log` without their leading time stamp, which must be
// "t=" and milliseconds with three decimals, in order, and no later than
// `upToMs` (the time since the emulator was started, measured from before).
std::string WithoutTimes(const std::string& out, double upToMs) {
  static const std::regex line(R"(^t=([0-9]+\.[0-9]{3}) (.*)$)");
  std::istringstream in(out);
  std::string text, rest;
  double last = 0;
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) {
      ADD_FAILURE() << "no time stamp: " << l;
      rest += l + "\n";
      continue;
    }
    const double t = std::stod(m[1].str());
    EXPECT_GE(t, last) << l;
    EXPECT_LE(t, upToMs) << l;
    last = t;
    rest += m[2].str() + "\n";
  }
  return rest;
}

}  // namespace

TEST_F(MouseEmulatorCliTest, PeekAndPoke) {
  auto r = cli({"peek", "64", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "00\n");
  r = cli({"poke", "72", "0401", "0202"});
  EXPECT_EQ(r.code, 0) << r.err;
  r = cli({"peek", "0x48", "4"});
  EXPECT_EQ(r.out, "04 01 02 02\n");
  r = cli({"peek", "65535", "1"});
  EXPECT_EQ(r.code, 0);
  r = cli({"peek", "65535", "2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("out of range"), std::string::npos) << r.err;
}

TEST_F(MouseEmulatorCliTest, InputCommandsShowInTheLog) {
  EXPECT_EQ(cli({"press", "3"}).code, 0);
  EXPECT_EQ(cli({"dpi", "2"}).code, 0);
  EXPECT_EQ(cli({"mode", "1"}).code, 0);
  EXPECT_EQ(cli({"raw", "01 00 05"}).code, 0);
  auto r = cli({"log"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(WithoutTimes(r.out, double(sinceBeforeStart.elapsed())),
            "1 mouse 0 in ok [8] 07 04 00 00 00 00 00 00\n"
            "2 mouse 0 in ok [8] 07 00 00 00 00 00 00 00\n"
            "3 mouse 0 in ok [8] 08 02 02 00 00 00 00 00\n"
            "4 mouse 0 in ok [8] 08 01 01 00 00 00 00 00\n"
            "5 mouse 0 in ok [3] 01 00 05\n");
  EXPECT_EQ(cli({"peek", "64", "1"}).out, "01\n");
  EXPECT_EQ(cli({"peek", "2377", "1"}).out, "01\n") << "slot 1 keeps its factory level";
  EXPECT_EQ(cli({"peek", "73", "1"}).out, "02\n");
  EXPECT_EQ(cli({"clear-log"}).code, 0);
  EXPECT_EQ(cli({"log"}).out, "");
  EXPECT_EQ(cli({"led"}).out, "none\n");
}

// The LED block keeps the colour inverted in the order G, B, R: the raw
// bytes alone read as another colour than the one shown.
TEST_F(MouseEmulatorCliTest, LedPrintsTheColourShownBesideTheLatchedBytes) {
  auto backend = platform::makeEmulatorHidBackend(mouse.socketPath());
  const auto list = backend->enumerate();
  ASSERT_FALSE(list.empty());
  uint32_t error = 1;
  auto device = backend->open(list[0].path, error);
  ASSERT_TRUE(device);
  struct Case {
    std::vector<uint8_t> block;  // the five bytes command 4 carries
    const char* printed;
  };
  const Case cases[] = {
      {{0x00, 0xFF, 0x00, 0x02, 0x03}, "00 FF 00 02 03  (R G B 255 255 0)\n"},  // yellow
      {{0xFF, 0xFF, 0x00, 0x02, 0x02}, "FF FF 00 02 02  (R G B 255 0 0)\n"},    // red
      {{0xFF, 0x00, 0xFF, 0x01, 0x00}, "FF 00 FF 01 00  (R G B 0 0 255)\n"},    // blue
      {{0xFF, 0x00, 0xAB, 0x03, 0x01}, "FF 00 AB 03 01  (R G B 84 0 255)\n"},
      {{0xFF, 0xFF, 0xFF, 0x00, 0x00}, "FF FF FF 00 00  (R G B 0 0 0)\n"},
      {{0x00, 0x00, 0x00, 0x03, 0x00}, "00 00 00 03 00  (R G B 255 255 255)\n"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> report(16, 0);
    report[0] = 0x02;
    report[1] = 0x04;
    std::copy(c.block.begin(), c.block.end(), report.begin() + 2);
    ASSERT_EQ(device->sendFeatureReport(report), 0u);
    const auto r = cli({"led"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, c.printed);
  }
}

TEST_F(MouseEmulatorCliTest, UnplugAndPlug) {
  EXPECT_EQ(cli({"unplug"}).code, 0);
  auto r = cli({"press", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("unplugged"), std::string::npos) << r.err;
  EXPECT_EQ(cli({"plug"}).code, 0);
  EXPECT_EQ(cli({"press", "1"}).code, 0);
}

TEST_F(MouseEmulatorCliTest, ErrorsAreClearAndNonZero) {
  struct Case {
    QStringList args;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {{"press", "0"}, 1, "1..24"},
      {{"press", "25"}, 1, "1..24"},
      {{"press", "x"}, 2, "not a number"},
      {{"dpi", "10"}, 1, "0..9"},
      {{"mode", "2"}, 1, "0 or 1"},
      {{"peek", "64"}, 2, "peek ADDR LEN"},
      {{"peek", "65536", "1"}, 2, "ADDR"},
      {{"poke", "64", "abc"}, 2, "hex"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"--device", "3", "press", "1"}, 1, "no such mouse"},
      {{}, 2, "no command"},
  };
  for (const auto& c : cases) {
    const auto r = cli(c.args);
    EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
    EXPECT_NE(r.err.find(c.message), std::string::npos)
        << c.args.join(' ').toStdString() << ": " << r.err;
  }
}

TEST_F(MouseEmulatorCliTest, NoServerAndSecondServer) {
  QTemporaryDir dir;
  const std::string nowhere = dir.filePath("none.sock").toStdString();
  auto r = run({"peek", "64", "1"}, nowhere);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("cannot connect"), std::string::npos) << r.err;

  r = run({"serve"}, mouse.socketPath());
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("already serves"), std::string::npos) << r.err;
  EXPECT_EQ(cli({"peek", "64", "1"}).code, 0) << "the first server still serves";
}

TEST_F(MouseEmulatorCliTest, FilterDriverRequestsAreLoggedAndAnsweredWithStatusZero) {
  // The monitor's own client, finding the socket by folder and default name.
  platform::FilterDriverClient driver({}, mouse.driverDirectory());
  EXPECT_EQ(driver.socketPath(), mouse.driverSocketPath());
  uint8_t level[2] = {0x03, 0x00};
  EXPECT_EQ(driver.deviceRW(level, sizeof level, platform::kIoctlSetCurrentCpi), 0u);
  EXPECT_EQ(level[0], 0x03) << "the buffer comes back unchanged";
  std::vector<uint8_t> table(238, 0);
  table[0] = 0x5A;
  table[1] = 0x3C;
  EXPECT_EQ(driver.deviceRW(table.data(), table.size(), platform::kIoctlSetCpiUnit), 0u);

  const auto log = mouse.driverLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].code, 0x8000800Cu);
  EXPECT_EQ(log[0].bytes, (std::vector<uint8_t>{0x03, 0x00}));
  EXPECT_EQ(log[1].code, 0x80008004u);
  EXPECT_EQ(log[1].bytes, table);

  auto r = cli({"driver-log"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 15), "8000800C 03 00\n");
  EXPECT_EQ(r.out.substr(15, 15), "80008004 5A 3C ");
  EXPECT_EQ(cli({"clear-log"}).code, 0);
  EXPECT_EQ(cli({"driver-log"}).out, "");
}

// Another process of the user opens 200 connections to each of the program's
// sockets, each sending the first four bytes of a frame and then nothing. A
// new client of the mouse and a request to its filter driver are still served.
TEST_F(MouseEmulatorCliTest, HalfFramesOnManyConnectionsDoNotBlockARealClient) {
  const uint8_t mouseHead[] = {0x45, 0x4D, 0x01, 0x01};
  const uint8_t driverHead[] = {'Z', 'D', 'R', 'V'};
  platform_test::StalledPeers mousePeers(mouse.socketPath(), 200, mouseHead);
  platform_test::StalledPeers driverPeers(mouse.driverSocketPath(), 200, driverHead);
  EXPECT_EQ(mousePeers.connected(), 200);
  EXPECT_EQ(driverPeers.connected(), 200);

  const auto r = cli({"peek", "72", "2"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "04 01\n");
  platform::FilterDriverClient driver({}, mouse.driverDirectory());
  uint8_t level[2] = {0x02, 0x00};
  EXPECT_EQ(driver.deviceRW(level, sizeof level, platform::kIoctlSetCurrentCpi), 0u);
  const auto log = mouse.driverLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].bytes, (std::vector<uint8_t>{0x02, 0x00}));
}

// Another process fills every client place of the mouse with connections
// that each ask one thing and are answered, then stay open and say nothing
// more. A new client is still served, each time.
TEST_F(MouseEmulatorCliTest, IdleConnectionsInEveryPlaceDoNotLockOutANewClient) {
  namespace emu = platform::emu;
  std::vector<std::unique_ptr<emu::Connection>> idle;
  // The test's own control connection holds the last place.
  for (std::size_t i = 0; i + 1 < emulator::EmulatorServer::kMaxClients; ++i) {
    std::string error;
    auto c = emu::Connection::connect(mouse.socketPath(), error);
    ASSERT_TRUE(c) << error;
    emu::Connection::Reply reply;
    ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error)) << error;
    ASSERT_EQ(reply.status, emu::Status::Ok);
    idle.push_back(std::move(c));
  }
  for (int attempt = 0; attempt < 6; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    const auto r = cli({"dpi", "3"});
    EXPECT_EQ(r.code, 0) << r.err;
  }
}

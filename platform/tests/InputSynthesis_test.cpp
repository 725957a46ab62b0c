// The XTest backend is checked against a real X server together with the
// hook library's X11 source (hooklib/tests/HookLibrary_test.cpp), so that
// one test alone sends keys to the shared virtual display.
#include "platform/InputSynthesis.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(InputSynthesis, WheelDeltasBecomeWholeNotches) {
  struct Case {
    int delta, notches;
  };
  for (const Case c : {Case{0, 0}, Case{120, 1}, Case{-120, -1}, Case{240, 2}, Case{1, 1}, Case{-59, -1},
                       Case{179, 1}, Case{180, 2}, Case{1 << 30, 100}, Case{-(1 << 30), -100}}) {
    EXPECT_EQ(platform::wheelNotches(c.delta), c.notches) << c.delta;
  }
}

TEST(InputSynthesis, WithoutADisplayNothingIsSentAndNothingFails) {
  ::unsetenv("DISPLAY");
  auto s = platform::createInputSynthesis();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->backendName(), "none");
  EXPECT_FALSE(s->key(0x41, false, true));
  EXPECT_FALSE(s->wheel(120));
  EXPECT_FALSE(s->button(1, true));
  std::array<uint8_t, 256> table{};
  table[0x41] = 1;
  EXPECT_FALSE(platform::QueryPressedVirtualKeys(table));
  EXPECT_EQ(table[0x41], 1);  // untouched
}

TEST(InputSynthesis, AnUnreachableDisplayGivesNoBackend) {
  EXPECT_EQ(platform::createXTestSynthesis("unix:/nonexistent/9"), nullptr);
}

}  // namespace

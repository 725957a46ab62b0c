#include "device/uiStdCmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Record {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<uint8_t>> seen;
  std::vector<std::thread::id> threads;
};

TEST(uiStdCmd, BackToBackCallsEachRunOnceWithTheirOwnBuffer) {
  Record record;
  // The first worker is held until the second call has been made, so the
  // two calls are pending at the same time.
  std::mutex gateMutex;
  std::condition_variable gateOpen;
  bool open = false;
  auto callback = [&](void* buffer, uint32_t size) {
    {
      std::unique_lock lock(gateMutex);
      gateOpen.wait(lock, [&] { return open; });
    }
    const auto* p = static_cast<const uint8_t*>(buffer);
    std::lock_guard lock(record.mutex);
    record.seen.emplace_back(p, p + size);
    record.threads.push_back(std::this_thread::get_id());
    record.changed.notify_all();
  };
  std::array<uint8_t, 5> first{1, 2, 3, 4, 5};
  std::array<uint8_t, 3> second{9, 8, 7};
  ASSERT_TRUE(TuiThread::ThreadCallFunction(callback, first.data(), first.size()));
  ASSERT_TRUE(TuiThread::ThreadCallFunction(callback, second.data(), second.size()));
  first.fill(0);  // the caller's buffers may change at once
  second.fill(0);
  {
    std::lock_guard lock(gateMutex);
    open = true;
  }
  gateOpen.notify_all();
  {
    std::unique_lock lock(record.mutex);
    record.changed.wait(lock, [&] { return record.seen.size() == 2; });
  }
  TuiThread::WaitForAll();
  EXPECT_EQ(TuiThread::PendingCount(), 0);
  ASSERT_EQ(record.seen.size(), 2u);
  // In the order of their first bytes (the two buffers differ there).
  std::sort(record.seen.begin(), record.seen.end(), [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return !b.empty() && (a.empty() || a[0] < b[0]);
  });
  EXPECT_EQ(record.seen[0], (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(record.seen[1], (std::vector<uint8_t>{9, 8, 7}));
  for (auto id : record.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST(uiStdCmd, SizeZeroStartsNothing) {
  bool ran = false;
  uint8_t byte = 1;
  EXPECT_FALSE(TuiThread::ThreadCallFunction([&](void*, uint32_t) { ran = true; }, &byte, 0));
  EXPECT_FALSE(TuiThread::ThreadCallFunction({}, &byte, 1));
  EXPECT_EQ(TuiThread::PendingCount(), 0);
  TuiThread::WaitForAll();
  EXPECT_FALSE(ran);
}

TEST(uiStdCmd, AThrowingCallbackDoesNotTakeTheProcessDown) {
  uint8_t byte = 1;
  ASSERT_TRUE(TuiThread::ThreadCallFunction([](void*, uint32_t) { throw std::runtime_error("no"); }, &byte, 1));
  TuiThread::WaitForAll();
  EXPECT_EQ(TuiThread::PendingCount(), 0);
}

}  // namespace

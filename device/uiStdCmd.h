#pragma once
// TuiThread: a one-shot worker that runs one callback on its own thread with
// a private copy of the caller's buffer. The configurator's Apply sets the
// desktop's pointer parameters this way without waiting for them.

#include <cstdint>
#include <functional>
#include <vector>

// The worker's callback: the copy of the caller's buffer and its size. It runs
// on the worker thread; it must capture values, never a window that may be
// gone by the time it runs.
using TThreadCallFunction = std::function<void(void* Buffer, uint32_t BufferSize)>;

class TuiThread {
 public:
  // Copies `size` bytes of `buffer` and runs `func` on them once, on a new
  // thread, returning at once. Size 0 (or no buffer, or no callback) starts
  // nothing and answers false. Every call has its own copy, so back-to-back
  // calls never share or free each other's buffer.
  static bool ThreadCallFunction(TThreadCallFunction func, const void* buffer, uint32_t size);

  // Waits until every worker started so far has ended. Called at program end
  // (and by tests); the process also joins the workers when it exits.
  static void WaitForAll();

  // Number of workers started and not yet joined.
  static int PendingCount();

  TuiThread(const TuiThread&) = delete;
  TuiThread& operator=(const TuiThread&) = delete;

 private:
  TuiThread(TThreadCallFunction func, const void* buffer, uint32_t size);
  // Runs the callback on the copy; an exception from it is reported on
  // stderr, never carried out of the thread.
  void Execute();

  TThreadCallFunction FFunc;
  std::vector<uint8_t> FBuffer;
};

// The main-thread run loop that each program owns. The bus connection and the web server are
// sources on it; the library itself runs no loop. Every operation but post() belongs to the
// thread that runs the loop.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>

#include "platform/foundation/Export.h"

namespace platform {

class HX_PLATFORM_EXPORT RunLoop {
 public:
  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The run loop of the main thread, for the whole process.
  static RunLoop& main();

  // Queues `work` to run on the loop, after the current callback. Safe from any thread.
  void post(std::function<void()> work);
  // Runs until stop() is called.
  void run();
  void stop();
  // Runs ready work and waits for more until `done` returns true or `timeout` passes.
  // Returns `done()`. For tests and short-lived programs that wait on one event.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs the work that is ready now, without waiting.
  void runPending();
  // From now on, the first of `signals` (SIGINT, SIGTERM, ...) the process receives stops the
  // loop, on the loop's thread, instead of ending the process; run() then returns. Replaces
  // the signals given before.
  void stopOnSignals(std::initializer_list<int> signals);

  // The loop's machinery, for the platform's own sources (see AsioRunLoop.h).
  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  const std::unique_ptr<Impl> impl_;
};

}  // namespace platform

// The main-thread run loop that each program owns (Boost.Asio underneath). The bus
// connection and the web server are sources on it; the library itself runs no loop.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>

namespace platform {

class RunLoop {
 public:
  // The run loop of the main thread, for the whole process.
  static RunLoop& main();

  boost::asio::io_context& context() { return context_; }
  // Queues `work` to run on the loop, after the current callback.
  void post(std::function<void()> work);
  // Runs until stop() is called.
  void run();
  void stop();
  // Runs ready work and waits for more until `done` returns true or `timeout` passes.
  // Returns `done()`. For tests and short-lived programs that wait on one event.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs the work that is ready now, without waiting.
  void runPending();

 private:
  boost::asio::io_context context_;
};

}  // namespace platform

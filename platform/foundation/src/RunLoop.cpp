#include "platform/foundation/RunLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

namespace platform {

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop();  // process lifetime: sources may outlive main()
  return *loop;
}

void RunLoop::post(std::function<void()> work) { boost::asio::post(context_, std::move(work)); }

void RunLoop::run() {
  auto guard = boost::asio::make_work_guard(context_);
  context_.restart();
  context_.run();
}

void RunLoop::stop() { context_.stop(); }

bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto guard = boost::asio::make_work_guard(context_);
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    context_.restart();
    // One handler at a time, so `done` is checked again as soon as anything ran.
    context_.run_one_for(deadline - now);
  }
  return done();
}

void RunLoop::runPending() {
  context_.restart();
  context_.poll();
}

}  // namespace platform

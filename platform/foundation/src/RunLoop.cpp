#include "platform/foundation/RunLoop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <optional>

#include "platform/foundation/AsioRunLoop.h"

namespace platform {

struct RunLoop::Impl {
  boost::asio::io_context context;
  std::optional<boost::asio::signal_set> signals;  // destroyed before the context it waits on
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}

RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop();  // process lifetime: sources may outlive main()
  return *loop;
}

boost::asio::io_context& asioContext(RunLoop& loop) {
  return loop.impl().context;
}

void RunLoop::post(std::function<void()> work) {
  boost::asio::post(impl_->context, std::move(work));
}

void RunLoop::run() {
  auto& context = impl_->context;
  auto guard = boost::asio::make_work_guard(context);
  context.restart();
  context.run();
}

void RunLoop::stop() {
  impl_->context.stop();
}

bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto& context = impl_->context;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto guard = boost::asio::make_work_guard(context);
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    context.restart();
    // One handler at a time, so `done` is checked again as soon as anything ran.
    context.run_one_for(deadline - now);
  }
  return done();
}

void RunLoop::runPending() {
  impl_->context.restart();
  impl_->context.poll();
}

void RunLoop::stopOnSignals(std::initializer_list<int> signals) {
  auto& set = impl_->signals.emplace(impl_->context);
  for (int signal : signals) set.add(signal);
  set.async_wait([this](const boost::system::error_code& error, int) {
    if (!error) stop();
  });
}

}  // namespace platform

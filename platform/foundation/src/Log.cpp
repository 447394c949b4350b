#include "platform/foundation/Log.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/foundation/Process.h"

namespace platform {
namespace {

LogSink& currentSink() {
  static LogSink* sink = new LogSink();  // process lifetime
  return *sink;
}

}  // namespace

void NSLog(std::string_view message) {
  if (const LogSink& sink = currentSink()) {
    sink(message);
    return;
  }
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string process = program_invocation_short_name;
  std::string line = std::string(stamp) + "." + std::to_string(now.tv_usec / 1000 + 1000).substr(1) +
                     " " + process + "[" + std::to_string(getpid()) + "] " +
                     std::string(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

LogSink setLogSink(LogSink sink) {
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace platform

#include "PeerWorld.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace peers {
namespace {

constexpr const char* kSchemas = R"(<?xml version="1.0" encoding="UTF-8"?>
<schemalist>
  <schema id="com.orlentis.halvex.bench.app">
    <key name="auto-launch" type="b"><default>false</default></key>
    <key name="background-behavior" type="i"><default>0</default></key>
    <key name="prevent-termination" type="b"><default>false</default></key>
    <key name="active-indicator" type="b"><default>true</default></key>
    <key name="inactive-indicator" type="b"><default>false</default></key>
  </schema>
  <schema id="com.orlentis.halvex.bench" path="/com/orlentis/halvex/bench/">
    <key name="app-switcher-toggle" type="b"><default>false</default></key>
  </schema>
</schemalist>
)";

std::vector<char*> argv(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> out{const_cast<char*>(program.c_str())};
  for (const auto& argument : arguments) out.push_back(const_cast<char*>(argument.c_str()));
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string applicationIdentifier(int index) {
  return "com.example.app" + std::to_string(index);
}

std::string applicationPath(int index) {
  return "/com/orlentis/halvex/bench/apps/" + applicationIdentifier(index) + "/";
}

PeerWorld::PeerWorld() {
  const char* base = std::getenv("HX_BENCH_DIR");
  std::string pattern = std::string(base != nullptr ? base : ".") + "/hx-peers-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  root_ = std::filesystem::absolute(pattern).string();
  smallHome_ = root_ + "/small";
  largeHome_ = root_ + "/large";
  for (const char* folder : {"/config", "/runtime", "/schemas", "/small/Library/Preferences",
                             "/large/Library/Preferences"}) {
    std::filesystem::create_directories(root_ + folder);
  }
  ::chmod((root_ + "/runtime").c_str(), 0700);
  std::ofstream(root_ + "/schemas/halvex-bench.gschema.xml") << kSchemas;
  const std::string compile = "glib-compile-schemas '" + root_ + "/schemas'";
  if (std::system(compile.c_str()) != 0) return;

  ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
  ::setenv("GSETTINGS_SCHEMA_DIR", (root_ + "/schemas").c_str(), 1);
  ::setenv("GSETTINGS_BACKEND", "dconf", 1);

  // Started after the environment is set: the dconf service it activates inherits it.
  FILE* daemon = ::popen("dbus-daemon --session --print-address=1 --print-pid=1 --fork", "r");
  char address[512] = {}, pid[32] = {};
  if (daemon == nullptr || std::fgets(address, sizeof address, daemon) == nullptr ||
      std::fgets(pid, sizeof pid, daemon) == nullptr) {
    if (daemon != nullptr) ::pclose(daemon);
    return;
  }
  ::pclose(daemon);
  address[std::strcspn(address, "\n")] = '\0';
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
  busPid_ = static_cast<pid_t>(std::atol(pid));
  ok_ = true;
}

PeerWorld::~PeerWorld() {
  if (busPid_ > 0) {
    // GLib ends a process whose session bus closes, with SIGTERM; this one is leaving anyway.
    ::signal(SIGTERM, SIG_IGN);
    ::kill(busPid_, SIGTERM);
    // The dconf service leaves with its bus; give it time before removing what it writes to.
    for (int i = 0; i < 100 && ::kill(busPid_, 0) == 0; ++i) ::usleep(10000);
    ::usleep(200000);
  }
  if (!root_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    if (ignored) std::filesystem::remove_all(root_, ignored);
  }
}

Child startChild(const std::string& program, const std::vector<std::string>& arguments) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) std::abort();
  Child child;
  std::vector<char*> args = argv(program, arguments);
  child.pid = ::fork();
  if (child.pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(program.c_str(), args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  child.input = in[1];
  child.output = out[0];
  return child;
}

void stopChild(Child& child) {
  if (child.pid <= 0) return;
  ::close(child.input);
  ::kill(child.pid, SIGTERM);
  ::waitpid(child.pid, nullptr, 0);
  ::close(child.output);
  child = Child{};
}

bool readWord(const Child& child, std::uint64_t& word, int timeoutMs) {
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(&word);
  while (got < sizeof word) {
    pollfd p{child.output, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    const ssize_t n = ::read(child.output, bytes + got, sizeof word - got);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

void writeWord(int fd, std::uint64_t word) {
  if (::write(fd, &word, sizeof word) != static_cast<ssize_t>(sizeof word)) ::_exit(3);
}

std::uint64_t monotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

bool runToEnd(const std::string& program, const std::vector<std::string>& arguments,
              double& milliseconds, double& residentMiB) {
  const std::uint64_t start = monotonicNanoseconds();
  Child child = startChild(program, arguments);
  ::close(child.input);
  // The program reports its own peak (VmHWM, in KiB): the peak that wait4 reports would also
  // count the pages of this process that the child had before its exec.
  std::string report;
  char buffer[256];
  for (ssize_t n; (n = ::read(child.output, buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  milliseconds = static_cast<double>(monotonicNanoseconds() - start) / 1e6;
  ::close(child.output);
  residentMiB = std::atof(report.c_str()) / 1024.0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && residentMiB > 0;
}

long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  }
  return 0;
}

}  // namespace peers

#include "support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace hxtest {
namespace {

std::string runAndRead(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string output;
  char chunk[256];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  pclose(pipe);
  return output;
}

}  // namespace

TemporaryDirectory::TemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/halvex-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

PrivateBus::PrivateBus() {
  if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    previous_ = previous;
    hadPrevious_ = true;
  }
  std::string output =
      runAndRead("dbus-daemon --session --print-address=1 --print-pid=1 --fork 2>/dev/null");
  std::istringstream lines(output);
  std::string pidLine;
  std::getline(lines, address_);
  std::getline(lines, pidLine);
  if (address_.empty() || pidLine.empty()) throw std::runtime_error("dbus-daemon did not start");
  pid_ = static_cast<pid_t>(std::stol(pidLine));
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
  if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) {
    // The daemon forked away from us, so it cannot be reaped; wait until it is gone so that
    // a finished run leaves no daemon behind, however soon it is counted.
    waitFor([this] { return ::kill(pid_, 0) != 0; }, std::chrono::seconds(2));
  }
  if (hadPrevious_) {
    setenv("DBUS_SESSION_BUS_ADDRESS", previous_.c_str(), 1);
  } else {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
}

ChildProcess::ChildProcess(const std::string& scenario, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) throw std::runtime_error("cannot find /proc/self/exe");
  self[n] = '\0';
  std::vector<std::string> argv{self, "--hx-child=" + scenario};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  start(self, argv, environment);
}

ChildProcess ChildProcess::program(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment) {
  ChildProcess child;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  child.start(program, argv, environment);
  return child;
}

void ChildProcess::start(const std::string& program, const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : environment) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);

  std::vector<char*> cargv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  std::vector<char*> cenv;
  for (const auto& e : envStrings) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    execve(program.c_str(), cargv.data(), cenv.data());
    _exit(127);
  }
  close(fds[1]);
  stdoutFd_ = fds[0];
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_),
      stdoutFd_(other.stdoutFd_),
      buffer_(std::move(other.buffer_)),
      exited_(other.exited_),
      status_(other.status_) {
  other.pid_ = -1;
  other.stdoutFd_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdoutFd_ >= 0) close(stdoutFd_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    if (stdoutFd_ < 0) return std::nullopt;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{stdoutFd_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::nullopt;
    char chunk[4096];
    ssize_t n = read(stdoutFd_, chunk, sizeof chunk);
    if (n <= 0) {
      close(stdoutFd_);
      stdoutFd_ = -1;
      if (!buffer_.empty()) {
        std::string rest = std::move(buffer_);
        buffer_.clear();
        return rest;
      }
      return std::nullopt;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (exited_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::kill(int signal) {
  if (pid_ > 0 && !exited_) ::kill(pid_, signal);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string sourceDir() {
  const char* dir = std::getenv("HALVEX_TEST_SOURCE_DIR");
  return dir ? dir : HX_TEST_SOURCE_DIR;
}

std::string binaryDir() {
  const char* dir = std::getenv("HALVEX_TEST_BINARY_DIR");
  return dir ? dir : HX_TEST_BINARY_DIR;
}

void writeFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace hxtest

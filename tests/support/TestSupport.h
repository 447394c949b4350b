// Test helpers shared by every layer: temporary folders, a private session bus, and child
// processes that are this very test binary started again with --hx-child=<scenario>.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hxtest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A private D-Bus session daemon for one test: started on construction, pointed to by
// DBUS_SESSION_BUS_ADDRESS of this process (and so of its children), stopped on destruction
// (which waits up to two seconds for it to be gone).
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  const std::string& address() const { return address_; }

 private:
  std::string address_;
  std::string previous_;
  bool hadPrevious_ = false;
  pid_t pid_ = -1;
};

// A running child: this test binary with --hx-child=<scenario> and `arguments`, with
// `environment` added to this process's environment. Standard output is a pipe that
// readLine() reads; standard error is inherited.
class ChildProcess {
 public:
  ChildProcess(const std::string& scenario, const std::vector<std::string>& arguments = {},
               const std::map<std::string, std::string>& environment = {});
  // Starts any program (`program` is a path; argv[0] is the path).
  static ChildProcess program(const std::string& program, const std::vector<std::string>& arguments,
                              const std::map<std::string, std::string>& environment = {});
  ~ChildProcess();  // kills the child with SIGKILL if it still runs
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of the child's standard output without its newline, or none when the
  // deadline passes or the child closed its output.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the child to exit: its exit status, 128 + signal when killed, or none on timeout.
  std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void kill(int signal);

 private:
  ChildProcess() = default;
  void start(const std::string& program, const std::vector<std::string>& argv,
             const std::map<std::string, std::string>& environment);
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  std::string buffer_;
  bool exited_ = false;
  int status_ = 0;
};

// Polls `condition` until it holds or `timeout` passes. Returns the last answer.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A scenario that the test binary runs in a child process instead of the tests.
using ChildScenario = std::function<int(const std::vector<std::string>& arguments)>;
struct ChildScenarioRegistrar {
  ChildScenarioRegistrar(const std::string& name, ChildScenario scenario);
};

// The source and build folders, from the environment CTest gives each test.
std::string sourceDir();
std::string binaryDir();

// Writes `contents` to `path`, creating parent folders.
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);

}  // namespace hxtest

#define HX_CHILD_SCENARIO_CONCAT2(a, b) a##b
#define HX_CHILD_SCENARIO_CONCAT(a, b) HX_CHILD_SCENARIO_CONCAT2(a, b)
// HX_CHILD_SCENARIO("name") { ...body using `arguments`...; return 0; }
#define HX_CHILD_SCENARIO(name)                                                              \
  static int HX_CHILD_SCENARIO_CONCAT(hxChildScenario, __LINE__)(                            \
      const std::vector<std::string>& arguments);                                            \
  static ::hxtest::ChildScenarioRegistrar HX_CHILD_SCENARIO_CONCAT(hxChildRegistrar, __LINE__)( \
      name, &HX_CHILD_SCENARIO_CONCAT(hxChildScenario, __LINE__));                           \
  static int HX_CHILD_SCENARIO_CONCAT(hxChildScenario, __LINE__)(                            \
      [[maybe_unused]] const std::vector<std::string>& arguments)

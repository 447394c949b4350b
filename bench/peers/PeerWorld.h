// The private world the peer benchmark runs in: a temporary folder holding two homes for the
// store (a small domain and one of 10,000 applications), an XDG configuration and runtime
// folder for dconf, a compiled GSettings schema, and a private session bus started after the
// environment is set, so that the dconf service it starts writes into the temporary folder too.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace peers {

inline constexpr int kLargeApplications = 10000;
inline constexpr int kSmallApplications = 20;
inline constexpr const char* kAppSchema = "com.orlentis.halvex.bench.app";
inline constexpr const char* kGlobalSchema = "com.orlentis.halvex.bench";

std::string applicationIdentifier(int index);
// The dconf path of an application's settings.
std::string applicationPath(int index);

class PeerWorld {
 public:
  PeerWorld();
  ~PeerWorld();
  PeerWorld(const PeerWorld&) = delete;
  PeerWorld& operator=(const PeerWorld&) = delete;

  bool ok() const { return ok_; }
  const std::string& smallHome() const { return smallHome_; }
  const std::string& largeHome() const { return largeHome_; }

 private:
  bool ok_ = false;
  std::string root_;
  std::string smallHome_;
  std::string largeHome_;
  pid_t busPid_ = -1;
};

// A child process with its standard input and output as pipes.
struct Child {
  pid_t pid = -1;
  int input = -1;   // the child's stdin
  int output = -1;  // the child's stdout
};
Child startChild(const std::string& program, const std::vector<std::string>& arguments);
void stopChild(Child& child);
// Reads one 8-byte word the child wrote; false after `timeoutMs` or at its end.
bool readWord(const Child& child, std::uint64_t& word, int timeoutMs = 20000);
void writeWord(int fd, std::uint64_t word);
std::uint64_t monotonicNanoseconds();

// Runs `program` to its end: its wall time in milliseconds and the peak resident set in MiB that
// it prints (see peakResidentKiB) before it exits.
bool runToEnd(const std::string& program, const std::vector<std::string>& arguments,
              double& milliseconds, double& residentMiB);

// This process's peak resident set in KiB (VmHWM), 0 when unknown.
long peakResidentKiB();

}  // namespace peers

// An Env that fails one chosen file-system call with an error that call can really return, or
// dies there (that call and every later one fail, as in a process killed at that point), so
// that a test can walk every failure point of an operation in turn.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "PreferenceTestEnv.h"

namespace hxtest {

class FaultInjectionEnv : public PreferenceTestEnv {
 public:
  // A point to fail: the `at`th call (from 1) after arming; `error` is an errno, or 0 to die
  // there, the power lost too when `powerLoss` (the caller then drops what was not flushed).
  struct Fault {
    int at = 0;
    int error = 0;
    bool powerLoss = false;
    bool dies() const { return at != 0 && error == 0; }
  };

  using PreferenceTestEnv::PreferenceTestEnv;

  // The errors the system calls beneath `call` really return (open, read, write, fsync,
  // fstat, rename, flock, fallocate and mmap, unlink, stat, getdents, mkdir).
  static std::vector<int> errorsOf(Call call);
  static std::string describe(const Fault& fault);

  // Arms `fault` (at 0: none) and starts a new trace of calls.
  void arm(Fault fault);
  const std::vector<Call>& trace() const { return trace_; }

  // Walks the fault points of an operation. `attempt` sets up a fresh world, arms the Env it
  // made with the fault given, runs the operation, checks it and returns the trace. It is first
  // called with no fault; then, for each call of that trace, once per error that call can
  // return, and dying there with and without a power loss; and once dying after the operation.
  // Returns the runs made.
  static int sweep(const std::function<std::vector<Call>(Fault)>& attempt);

 protected:
  platform::Status intercept(Call call, const std::string& path) override;

 private:
  Fault fault_;
  std::vector<Call> trace_;
};

}  // namespace hxtest

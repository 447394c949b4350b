#include "FaultInjectionEnv.h"

#include <cerrno>
#include <cstring>

namespace hxtest {

using platform::Status;

std::vector<int> FaultInjectionEnv::errorsOf(Call call) {
  switch (call) {
    case Call::ReadFile:
    case Call::ReadFileHeld:
    case Call::ReadFileAfter:
      return {ENOENT, EACCES, EIO, EINTR};
    case Call::CreateTemporaryFile:
      return {ENOSPC, EACCES, EIO, ENOENT, EINTR};
    case Call::Append:
      return {ENOSPC, EIO, EINTR};
    case Call::Sync:
    case Call::FlushFolder:
      return {EIO, ENOSPC};
    case Call::WrittenIdentity:
      return {EIO};
    case Call::RenameFile:
      return {ENOSPC, EACCES, EIO, ENOENT};
    case Call::LockFile:
    case Call::TryLockFile:
      return {EINTR, EACCES, ENOSPC, EIO, ENOENT};
    case Call::MapSharedCounter:
      return {ENOSPC, EACCES, EIO, ENOENT};
    case Call::RemoveFile:
    case Call::FileIdentity:
    case Call::FileExists:
    case Call::IsDirectory:
    case Call::ListDirectory:
      return {ENOENT, EACCES, EIO};
    case Call::CreateDirectories:
      return {ENOSPC, EACCES, EIO};
    case Call::Count:
      break;
  }
  return {EIO};
}

std::string FaultInjectionEnv::describe(const Fault& fault) {
  if (fault.at == 0) return "no fault";
  if (fault.dies()) {
    return "dies at call " + std::to_string(fault.at) + (fault.powerLoss ? ", power lost" : "");
  }
  return "call " + std::to_string(fault.at) + ": " + strerrorname_np(fault.error);
}

void FaultInjectionEnv::arm(Fault fault) {
  fault_ = fault;
  trace_.clear();
}

Status FaultInjectionEnv::intercept(Call call, const std::string& path) {
  Status status = PreferenceTestEnv::intercept(call, path);
  trace_.push_back(call);
  const int index = static_cast<int>(trace_.size());
  if (fault_.at == 0 || index < fault_.at || (index > fault_.at && !fault_.dies())) return status;
  return Status::fromErrno(fault_.dies() ? EIO : fault_.error, path);
}

int FaultInjectionEnv::sweep(const std::function<std::vector<Call>(Fault)>& attempt) {
  const std::vector<Call> calls = attempt(Fault{});
  int runs = 1;
  for (int at = 1; at <= static_cast<int>(calls.size()); ++at) {
    for (const int error : errorsOf(calls[static_cast<std::size_t>(at - 1)])) {
      attempt(Fault{at, error});
      ++runs;
    }
  }
  for (int at = 1; at <= static_cast<int>(calls.size()) + 1; ++at) {
    for (const bool powerLoss : {false, true}) {
      attempt(Fault{at, 0, powerLoss});
      ++runs;
    }
  }
  return runs;
}

}  // namespace hxtest

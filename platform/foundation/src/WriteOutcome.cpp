#include "platform/foundation/WriteOutcome.h"

namespace platform {

namespace {

thread_local WriteOutcomeRecorder* innermost = nullptr;

int severity(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::Stored:
      return 0;
    case WriteOutcome::NotDurable:
      return 1;
    case WriteOutcome::NotAnnounced:
      return 2;
    case WriteOutcome::NotStored:
      return 3;
  }
  return 3;
}

}  // namespace

WriteOutcome worseOutcome(WriteOutcome a, WriteOutcome b) {
  return severity(a) >= severity(b) ? a : b;
}

std::string describeOutcome(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::Stored:
      return {};
    case WriteOutcome::NotStored:
      return "The change could not be saved.";
    case WriteOutcome::NotDurable:
      return "The change was saved but may not survive a power loss.";
    case WriteOutcome::NotAnnounced:
      return "The change was saved but other programs were not told of it.";
  }
  return {};
}

const char* commandLineWords(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::Stored:
      return "";
    case WriteOutcome::NotStored:
      return "not stored";
    case WriteOutcome::NotDurable:
      return "stored, but may not survive a power loss";
    case WriteOutcome::NotAnnounced:
      return "stored, but other programs were not told";
  }
  return "";
}

int exitStatusFor(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::Stored:
      return 0;
    case WriteOutcome::NotStored:
      return 1;
    case WriteOutcome::NotDurable:
      return 3;
    case WriteOutcome::NotAnnounced:
      return 4;
  }
  return 1;
}

WriteOutcomeRecorder::WriteOutcomeRecorder() : outer_(innermost) {
  innermost = this;
}

WriteOutcomeRecorder::~WriteOutcomeRecorder() {
  innermost = outer_;
}

void WriteOutcomeRecorder::report(WriteOutcome outcome) {
  for (WriteOutcomeRecorder* recorder = innermost; recorder != nullptr;
       recorder = recorder->outer_) {
    recorder->reported_ = true;
    recorder->worst_ = worseOutcome(recorder->worst_, outcome);
  }
}

}  // namespace platform

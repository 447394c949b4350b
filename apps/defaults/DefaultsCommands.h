// The commands of halvex-defaults over the current user's preference domains. Every change goes
// through the preference store: under the domain's lock, against the file's current contents,
// written in one atomic replacement, so a command either stores its whole result or nothing.
// The store announces what it stored (PlatformPreferencesChanged), through the centre given.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/preferences/PreferenceStore.h"

namespace platform {
class NotificationCenter;
class RunLoop;
}  // namespace platform

namespace defaults {

enum class Output { Text, Json };

// Each command prints its result on `out` and any error on `err` (one line, prefixed with the
// program name), and returns the exit status: 0 on success, 1 for a missing domain or key, a
// value of the wrong form, a file that is not a property list, or a change not stored; 3 for a
// change stored whose folder could not be flushed (it may not survive a power loss); 4 for a
// change stored that other programs were not told of (the announcement did not reach the bus).
// A domain exists when it holds at least one key. `env`, `store` and `center` (the centre
// `store` announces through, whose posts each write flushes; none for a store that announces
// nothing) must outlive the object.
class DefaultsCommands {
 public:
  DefaultsCommands(platform::Env& env, platform::PreferenceStore& store, Output output,
                   std::FILE* out, std::FILE* err, platform::NotificationCenter* center = nullptr);
  DefaultsCommands(const DefaultsCommands&) = delete;
  DefaultsCommands& operator=(const DefaultsCommands&) = delete;

  // The names of the domains that exist, sorted.
  int domains();
  // Every domain, one domain, or one key.
  int read(const std::optional<std::string>& domain, const std::optional<std::string>& key);
  int readType(const std::string& domain, const std::string& key);
  // `words` follow the key (see parseWriteArguments).
  int write(const std::string& domain, const std::string& key,
            const std::vector<std::string>& words);
  // Removes one key, or every key of the domain.
  int remove(const std::string& domain, const std::optional<std::string>& key);
  // Moves the value of `from` to `to` (replacing what `to` held) in one write.
  int rename(const std::string& domain, const std::string& from, const std::string& to);
  // Writes the domain as an XML plist to `file`, atomically, or to `out` for "-".
  int exportDomain(const std::string& domain, const std::string& file);
  // Replaces the domain's contents with the dictionary of an XML or binary plist from `file`,
  // or from standard input for "-".
  int importDomain(const std::string& domain, const std::string& file);
  // Prints each change of the domain (or of one key) as it lands, one line per change ("KEY =
  // VALUE" with containers on one line, "KEY deleted"; a JSON object per line for Output::Json),
  // until SIGINT or SIGTERM or `out` fails, running `loop`. An announced change is printed when
  // its notification arrives; a file replaced without one (a plain copy) within a second.
  // Announces on `err` once it watches.
  int watch(const std::string& domain, const std::optional<std::string>& key,
            platform::RunLoop& loop);

 private:
  int fail(const std::string& message);
  // 0 when the domain's file is there and readable (even without a key); else fails saying
  // whether the name is refused, the domain missing or its file unreadable.
  int requireDomain(const std::string& domain);
  void print(const std::string& text);
  std::vector<std::string> domainNames();
  // Runs `change` on the domain under its lock; a CommandError thrown by it becomes the
  // command's error.
  int update(const std::string& domain,
             const std::function<platform::Value::Dictionary(platform::Value::Dictionary)>& change);
  // The exit status and words for what a write of `domain` came to, announcement included.
  int conclude(const std::string& domain, platform::WriteOutcome outcome);

  platform::Env& env_;
  platform::PreferenceStore& store_;
  const Output output_;
  std::FILE* const out_;
  std::FILE* const err_;
  platform::NotificationCenter* const center_;
};

}  // namespace defaults

// The commands of halvex-defaults over the current user's preference domains. Every change goes
// through the preference store: under the domain's lock, against the file's current contents,
// written in one atomic replacement, so a command either stores its whole result or nothing.
// Writing a domain this way posts no notification.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/preferences/PreferenceStore.h"

namespace defaults {

enum class Output { Text, Json };

// Each command prints its result on `out` and any error on `err` (one line, prefixed with the
// program name), and returns the exit status: 0 on success, 1 for a missing domain or key, a
// value of the wrong form, a file that is not a property list, or a change not stored; 3 for a
// change stored whose folder could not be flushed (it may not survive a power loss). A domain
// exists when it holds at least one key. `env` and `store` must outlive the object.
class DefaultsCommands {
 public:
  DefaultsCommands(platform::Env& env, platform::PreferenceStore& store, Output output,
                   std::FILE* out, std::FILE* err);
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
  // until the process is stopped or `out` fails. Announces on `err` once it watches.
  int watch(const std::string& domain, const std::optional<std::string>& key);

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

  platform::Env& env_;
  platform::PreferenceStore& store_;
  const Output output_;
  std::FILE* const out_;
  std::FILE* const err_;
};

}  // namespace defaults

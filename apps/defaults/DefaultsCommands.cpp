#include "DefaultsCommands.h"

#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <csignal>
#include <set>
#include <stdexcept>

#include "ValueParser.h"
#include "platform/DomainFileWatch.h"
#include "platform/Platform.h"
#include "platform/foundation/AsioRunLoop.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"

using platform::Value;

namespace defaults {
namespace {

constexpr std::string_view kPlistSuffix = ".plist";
// How often watch looks for a domain file replaced without an announcement; one stat each.
constexpr auto kFileCheckInterval = std::chrono::seconds(1);

// A refusal found under the domain's lock; nothing is written.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string missingKey(const std::string& domain, const std::string& key) {
  return "the key " + quoted(key) + " does not exist in domain " + quoted(domain);
}

std::string missingDomain(const std::string& domain) {
  return "the domain " + quoted(domain) + " does not exist";
}

std::string unreadableDomain(const std::string& domain) {
  return "the domain " + quoted(domain) + " cannot be read";
}

// A value as `read` prints it, with the line breaks and indentation of its containers folded into
// single spaces and a line break in top-level text escaped, so that one change is one line.
std::string describeOnOneLine(const Value& value) {
  if (value.isString()) {
    const std::string& text = value.stringValue();
    if (text.find('\n') == std::string::npos) return text;
    return platform::toJson(value);
  }
  const std::string description = value.description();
  std::string line;
  for (std::size_t i = 0; i < description.size(); ++i) {
    if (description[i] != '\n') {
      line += description[i];
      continue;
    }
    while (i + 1 < description.size() && description[i + 1] == ' ') ++i;
    line += ' ';
  }
  return line;
}

bool readAll(std::FILE* file, std::string& bytes) {
  char buffer[65536];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
  return !std::ferror(file);
}

}  // namespace

DefaultsCommands::DefaultsCommands(platform::Env& env, platform::PreferenceStore& store,
                                   Output output, std::FILE* out, std::FILE* err,
                                   platform::NotificationCenter* center)
    : env_(env), store_(store), output_(output), out_(out), err_(err), center_(center) {}

int DefaultsCommands::requireDomain(const std::string& domain) {
  if (!platform::isValidPreferenceDomainName(domain)) {
    return fail(quoted(domain) + " is not a domain name");
  }
  switch (store_.domainState(domain)) {
    case platform::DomainState::Present:
      return 0;
    case platform::DomainState::Missing:
      return fail(missingDomain(domain));
    case platform::DomainState::Unreadable:
      break;
  }
  return fail(unreadableDomain(domain));
}

int DefaultsCommands::fail(const std::string& message) {
  std::fprintf(err_, "halvex-defaults: %s\n", message.c_str());
  return 1;
}

void DefaultsCommands::print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);  // line by line, so that a reader on a pipe sees each change at once
}

std::vector<std::string> DefaultsCommands::domainNames() {
  std::vector<std::string> files;
  std::vector<std::string> names;
  if (!env_.listDirectory(store_.preferencesDirectory(), files).isOk()) return names;
  std::set<std::string> sorted;
  for (const auto& file : files) {
    if (file.size() <= kPlistSuffix.size() || !file.ends_with(kPlistSuffix)) continue;
    std::string name = file.substr(0, file.size() - kPlistSuffix.size());
    if (!platform::isValidPreferenceDomainName(name)) continue;
    if (store_.domainState(name) == platform::DomainState::Present) sorted.insert(std::move(name));
  }
  return {sorted.begin(), sorted.end()};
}

int DefaultsCommands::domains() {
  const auto names = domainNames();
  if (output_ == Output::Json) {
    Value::Array items(names.begin(), names.end());
    print(platform::toJson(Value::array(std::move(items))));
  } else {
    for (const auto& name : names) print(name);
  }
  return 0;
}

int DefaultsCommands::read(const std::optional<std::string>& domain,
                           const std::optional<std::string>& key) {
  auto show = [&](const Value& value) {
    print(output_ == Output::Json ? platform::toJson(value) : value.description());
  };
  if (!domain) {
    Value::Dictionary all;
    for (const auto& name : domainNames()) all.emplace(name, store_.copyAppDomain(name));
    show(Value::dictionary(std::move(all)));
    return 0;
  }
  if (!platform::isValidPreferenceDomainName(*domain)) {
    return fail(quoted(*domain) + " is not a domain name");
  }
  if (const int status = requireDomain(*domain); status != 0) return status;
  const Value contents = store_.copyAppDomain(*domain);
  if (!key) {
    show(contents);
    return 0;
  }
  const Value& value = contents[*key];
  if (value.isNone()) return fail(missingKey(*domain, *key));
  show(value);
  return 0;
}

int DefaultsCommands::readType(const std::string& domain, const std::string& key) {
  if (const int status = requireDomain(domain); status != 0) return status;
  const Value value = store_.copyAppValue(key, domain);
  if (value.isNone()) return fail(missingKey(domain, key));
  print(output_ == Output::Json ? platform::toJson(Value(typeName(value)))
                                : "Type is " + typeName(value));
  return 0;
}

int DefaultsCommands::update(const std::string& domain,
                             const std::function<Value::Dictionary(Value::Dictionary)>& change) {
  if (!platform::isValidPreferenceDomainName(domain)) {
    return fail(quoted(domain) + " is not a domain name");
  }
  platform::WriteOutcomeRecorder announcement;
  platform::WriteOutcome outcome = platform::WriteOutcome::NotStored;
  try {
    store_.updateAppDomain(
        domain, [&](const Value::Dictionary& current) { return change(current); }, &outcome);
  } catch (const CommandError& error) {
    return fail(error.what());
  }
  if (center_ != nullptr) center_->flush();
  return conclude(domain, platform::worseOutcome(outcome, announcement.worst()));
}

int DefaultsCommands::conclude(const std::string& domain, platform::WriteOutcome outcome) {
  if (outcome == platform::WriteOutcome::Stored) return 0;
  if (outcome == platform::WriteOutcome::NotStored) {
    return fail("not stored: could not write domain " + quoted(domain));
  }
  std::fprintf(err_, "halvex-defaults: domain %s %s\n", quoted(domain).c_str(),
               platform::commandLineWords(outcome));
  return platform::exitStatusFor(outcome);
}

int DefaultsCommands::write(const std::string& domain, const std::string& key,
                            const std::vector<std::string>& words) {
  ParsedWrite parsed = parseWriteArguments(words);
  if (!parsed.request) return fail(parsed.error);
  const WriteRequest& request = *parsed.request;
  return update(domain, [&](Value::Dictionary contents) {
    Value& slot = contents[key];
    if (request.mode == WriteMode::Replace) {
      slot = request.value;
    } else if (request.mode == WriteMode::ArrayAdd) {
      if (slot.isNone()) slot = Value::array();
      if (!slot.isArray()) {
        throw CommandError("the value of " + quoted(key) + " is a " + typeName(slot) +
                           ", not an array");
      }
      for (const auto& item : request.value.arrayValue()) slot.mutableArray().push_back(item);
    } else {
      if (slot.isNone()) slot = Value::dictionary();
      if (!slot.isDictionary()) {
        throw CommandError("the value of " + quoted(key) + " is a " + typeName(slot) +
                           ", not a dictionary");
      }
      for (const auto& [name, item] : request.value.dictionaryValue()) {
        slot.mutableDictionary().insert_or_assign(name, item);
      }
    }
    return contents;
  });
}

int DefaultsCommands::remove(const std::string& domain, const std::optional<std::string>& key) {
  // Checked before taking the lock too, so that a mistyped name creates nothing.
  if (const int status = requireDomain(domain); status != 0) return status;
  if (!key) {
    platform::WriteOutcomeRecorder announcement;
    const platform::WriteOutcome outcome = store_.removeDomain(domain);
    if (center_ != nullptr) center_->flush();
    return conclude(domain, platform::worseOutcome(outcome, announcement.worst()));
  }
  return update(domain, [&](Value::Dictionary contents) {
    if (contents.erase(*key) == 0) throw CommandError(missingKey(domain, *key));
    return contents;
  });
}

int DefaultsCommands::rename(const std::string& domain, const std::string& from,
                             const std::string& to) {
  if (const int status = requireDomain(domain); status != 0) return status;
  return update(domain, [&](Value::Dictionary contents) {
    auto it = contents.find(from);
    if (it == contents.end()) throw CommandError(missingKey(domain, from));
    Value value = std::move(it->second);
    contents.erase(it);
    contents.insert_or_assign(to, std::move(value));
    return contents;
  });
}

int DefaultsCommands::exportDomain(const std::string& domain, const std::string& file) {
  if (!platform::isValidPreferenceDomainName(domain)) {
    return fail(quoted(domain) + " is not a domain name");
  }
  if (const int status = requireDomain(domain); status != 0) return status;
  const Value contents = store_.copyAppDomain(domain);
  if (file == "-") {
    const auto xml = platform::serializePropertyList(contents, platform::PlistFormat::Xml);
    if (!xml) return fail("domain " + quoted(domain) + " cannot be written as XML");
    std::fwrite(xml->data(), 1, xml->size(), out_);
    std::fflush(out_);
    return std::ferror(out_) ? fail("cannot write to standard output") : 0;
  }
  const platform::Status status =
      platform::writePropertyListFile(env_, file, contents, platform::PlistFormat::Xml);
  if (!status.isOk()) return fail("cannot write " + file + ": " + status.toString());
  return 0;
}

int DefaultsCommands::importDomain(const std::string& domain, const std::string& file) {
  std::string bytes;
  if (file == "-") {
    if (!readAll(stdin, bytes)) return fail("cannot read standard input");
  } else if (const platform::Status status =
                 env_.readFile(file, platform::FileKind::PreferenceDomain, bytes);
             !status.isOk()) {
    return fail("cannot read " + file + ": " + status.toString());
  }
  const std::string source = file == "-" ? "standard input" : file;
  std::optional<Value> root = platform::parsePropertyList(bytes);
  if (!root) return fail(source + " is not a property list");
  if (!root->isDictionary())
    return fail(source + " holds a " + typeName(*root) + ", not a dictionary");
  const Value::Dictionary& imported = root->dictionaryValue();
  return update(domain, [&](const Value::Dictionary&) { return imported; });
}

int DefaultsCommands::watch(const std::string& domain, const std::optional<std::string>& key,
                            platform::RunLoop& loop) {
  if (!platform::isValidPreferenceDomainName(domain)) {
    return fail(quoted(domain) + " is not a domain name");
  }
  store_.appSynchronize(domain);
  Value last = store_.copyAppDomain(domain);
  bool failed = false;
  auto printChanges = [&] {
    store_.appSynchronize(domain);
    Value now = store_.copyAppDomain(domain);
    std::set<std::string> keys;
    for (const auto& [name, value] : last.dictionaryValue()) keys.insert(name);
    for (const auto& [name, value] : now.dictionaryValue()) keys.insert(name);
    for (const auto& name : keys) {
      if (key && name != *key) continue;
      const Value& before = last[name];
      const Value& after = now[name];
      if (platform::identicalPropertyLists(before, after)) continue;
      if (output_ == Output::Json) {
        print(platform::toJson(Value::dictionary(
            {{"key", Value(name)}, {"value", after.isNone() ? Value::null() : after}})));
      } else {
        print(after.isNone() ? name + " deleted" : name + " = " + describeOnOneLine(after));
      }
    }
    last = std::move(now);
    if (std::ferror(out_)) {
      failed = true;
      loop.stop();
    }
  };
  platform::ObserverToken observer;
  if (center_ != nullptr) {
    observer = center_->addObserver(platform::kPreferencesChangedNotification, domain,
                                    [&](const platform::Notification&) { printChanges(); });
  }
  platform::DomainFileWatch files(env_, store_, domain);
  boost::asio::steady_timer timer(platform::asioContext(loop));
  std::function<void()> checkFiles = [&] {
    timer.expires_after(kFileCheckInterval);
    timer.async_wait([&](const boost::system::error_code& error) {
      if (error) return;
      if (!files.check().empty()) printChanges();
      checkFiles();
    });
  };
  checkFiles();
  std::fprintf(err_, "halvex-defaults: watching %s\n", domain.c_str());
  std::fflush(err_);
  loop.stopOnSignals({SIGINT, SIGTERM});
  loop.run();
  timer.cancel();
  return failed ? 1 : 0;
}

}  // namespace defaults

// halvex-defaults: reads and changes the current user's preference domains from a shell, with
// the same locking and atomic writes as the library. Its store announces each change it stores
// on the session bus, as every writer's does.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "DefaultsCommands.h"
#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"

namespace {

constexpr const char* kUsage =
    "usage: halvex-defaults [--json] [--home DIR] COMMAND [ARGUMENT...]\n"
    "\n"
    "Reads and changes the preference domains of the current user.\n"
    "\n"
    "commands:\n"
    "  domains                        list the domains whose file is there (even with no key)\n"
    "  read [DOMAIN [KEY]]            print every domain, one domain or one value\n"
    "  read-type DOMAIN KEY           print the type of a value\n"
    "  write DOMAIN KEY VALUE         store a value given as a plist literal, or as\n"
    "                                 -string S, -int N, -float N, -bool B, -date D, -data HEX,\n"
    "                                 -array ITEM..., -array-add ITEM..., -dict KEY ITEM...,\n"
    "                                 -dict-add KEY ITEM...\n"
    "  delete DOMAIN [KEY]            remove one key, or the whole domain (its file)\n"
    "  rename DOMAIN OLD NEW          move a value to another key\n"
    "  export DOMAIN FILE|-           write the domain as an XML plist\n"
    "  import DOMAIN FILE|-           replace the domain with an XML or binary plist\n"
    "  watch DOMAIN [KEY]             print each change as it is stored, one line each,\n"
    "                                 until interrupted (a file copied into place without\n"
    "                                 an announcement is seen within a second)\n"
    "  help                           show this text\n"
    "\n"
    "options:\n"
    "  --json        print values as JSON (dates as ISO-8601 text, data as base64);\n"
    "                watch prints one JSON object per line\n"
    "  --home DIR    the user home (default: $HALVEX_HOME, else ~/.local/share/halvex/mobile)\n"
    "  --help        show this text and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "-date takes what read prints (2024-01-02 03:04:05 +0000) or ISO 8601 (2024-01-02T03:04:05Z).\n"
    "\n"
    "Exit status: 0 on success, 1 when a domain, key or file is missing, a value has the wrong\n"
    "form or the change was not stored (nothing is written then), 2 for a command line that\n"
    "cannot be understood, 3 when the change was stored but may not survive a power loss,\n"
    "4 when it was stored but other programs were not told (the session bus was unreachable).\n"
    "Each stored change is announced as PlatformPreferencesChanged on the session bus; no\n"
    "Halvex notification is posted.\n";

int usage(const std::string& problem) {
  std::fprintf(stderr, "halvex-defaults: %s\n", problem.c_str());
  std::fputs("Try 'halvex-defaults --help' for more information.\n", stderr);
  return 2;
}

struct Command {
  const char* name;
  std::size_t least;  // arguments after the command name
  std::size_t most;
};

constexpr Command kCommands[] = {
    {"domains", 0, 0}, {"read", 0, 2},   {"read-type", 2, 2}, {"write", 3, SIZE_MAX},
    {"delete", 1, 2},  {"rename", 3, 3}, {"export", 2, 2},    {"import", 2, 2},
    {"watch", 1, 2},   {"help", 0, 0},
};

}  // namespace

int main(int argc, char** argv) {
  defaults::Output output = defaults::Output::Text;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Values may begin with one dash (-int); only a double dash names an option.
    if (optionsEnded || arg.rfind("--", 0) != 0) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("halvex-defaults %s\n", HX_VERSION);
      return 0;
    } else if (arg == "--json") {
      output = defaults::Output::Json;
    } else if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
      std::string folder;
      if (arg == "--home") {
        if (i + 1 >= argc) return usage("--home needs a folder");
        folder = argv[++i];
      } else {
        folder = arg.substr(7);
      }
      if (folder.empty()) return usage("--home needs a folder");
      platform::setUserHome(folder);
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (words.empty()) return usage("missing command");

  const std::string command = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  const Command* known = nullptr;
  for (const Command& candidate : kCommands) {
    if (command == candidate.name) known = &candidate;
  }
  if (known == nullptr) return usage("unknown command " + command);
  if (args.size() < known->least || args.size() > known->most) {
    return usage("wrong number of arguments for " + command);
  }

  if (command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }

  platform::Env& env = platform::defaultEnv();
  platform::RunLoop& loop = platform::RunLoop::main();
  // The bus connection opens at the first post or observer, so a read never touches it.
  const auto center = platform::newDistributedNotificationCenter(loop);
  platform::PreferenceStore store(env, platform::preferencesDirectory());
  platform::announceStoredChanges(store, *center);
  defaults::DefaultsCommands commands(env, store, output, stdout, stderr, center.get());
  auto optional = [&](std::size_t index) {
    return index < args.size() ? std::optional<std::string>(args[index]) : std::nullopt;
  };

  if (command == "domains") return commands.domains();
  if (command == "read") return commands.read(optional(0), optional(1));
  if (command == "read-type") return commands.readType(args[0], args[1]);
  if (command == "write") {
    return commands.write(args[0], args[1], std::vector<std::string>(args.begin() + 2, args.end()));
  }
  if (command == "delete") return commands.remove(args[0], optional(1));
  if (command == "rename") return commands.rename(args[0], args[1], args[2]);
  if (command == "export") return commands.exportDomain(args[0], args[1]);
  if (command == "import") return commands.importDomain(args[0], args[1]);
  return commands.watch(args[0], optional(1), loop);
}

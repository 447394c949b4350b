// halvex-springboard: stands in for the backgrounding agent of the home screen on the
// command line. It runs with the home screen's process identity, so its registry changes are
// announced as the agent's would be.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SpringboardCommands.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/foundation/Process.h"

namespace {

constexpr const char* kUsage =
    "usage: halvex-springboard [--root DIR] [--home DIR] COMMAND\n"
    "\n"
    "commands:\n"
    "  listen        print every Halvex notification as a JSON line until interrupted\n"
    "  enable ID     enable backgrounding of the application ID\n"
    "  disable ID    disable backgrounding of the application ID\n"
    "  clear         disable backgrounding of every application\n"
    "  status        print the backgrounding list and the global settings as JSON\n"
    "  apps          print the installed applications in catalogue order as JSON\n"
    "\n"
    "options:\n"
    "  --root DIR    the device root (default: $HALVEX_ROOT, else the sample device)\n"
    "  --home DIR    the user home (default: $HALVEX_HOME, else ~/.local/share/halvex/mobile)\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

int usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "halvex-springboard: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  platform::setMainBundleIdentifier(std::string(hx::kSpringboardBundleIdentifier));
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("halvex-springboard %s\n", HX_VERSION);
      return 0;
    }
    if (arg == "--root" || arg == "--home") {
      if (i + 1 >= argc) return usage((arg + " needs a folder").c_str());
      std::string folder = argv[++i];
      if (folder.empty()) return usage((arg + " needs a folder").c_str());
      if (arg == "--root") {
        platform::setDeviceRoot(folder);
      } else {
        platform::setUserHome(folder);
      }
      continue;
    }
    if (arg.rfind("--", 0) == 0) return usage(("unknown option " + arg).c_str());
    words.push_back(arg);
  }
  if (words.empty()) return usage("missing command");
  const std::string& command = words[0];
  auto expectArguments = [&](std::size_t count) { return words.size() == count + 1; };

  if (command == "listen" && expectArguments(0)) return springboard::listen();
  if (command == "status" && expectArguments(0)) return springboard::status();
  if (command == "apps" && expectArguments(0)) return springboard::apps();
  if (command == "clear" && expectArguments(0)) return springboard::clear();
  if ((command == "enable" || command == "disable") && expectArguments(1)) {
    if (words[1].empty()) return usage("the application identifier is empty");
    return command == "enable" ? springboard::enable(words[1]) : springboard::disable(words[1]);
  }
  if (command == "enable" || command == "disable") {
    return usage((command + " takes one application identifier").c_str());
  }
  if (command == "listen" || command == "status" || command == "apps" || command == "clear") {
    return usage((command + " takes no arguments").c_str());
  }
  return usage(("unknown command " + command).c_str());
}

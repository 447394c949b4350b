// The command line of halvex-settings. Parsing is pure: it touches no file and prints nothing,
// so that main() decides how to report a refusal (usage on standard error, exit status 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settingsapp {

inline constexpr std::uint16_t kDefaultPort = 8080;
inline constexpr double kDefaultScale = 2.0;

struct Options {
  std::optional<std::string> root;    // --root DIR: the device root; unset = the platform's default
  std::optional<std::string> home;    // --home DIR: the user home; unset = the platform's default
  std::uint16_t port = kDefaultPort;  // --port N; 0 asks the system for a free port
  double scale = kDefaultScale;       // --scale N: the main screen's scale, 1 to 4
  bool help = false;                  // --help: print usage and exit 0
};

// Either options or a one-line reason naming the offending argument.
struct ParsedOptions {
  std::optional<Options> options;
  std::string error;
};

// Parses the arguments after the program name. Accepts "--name value" and "--name=value".
// An unknown option, a missing or malformed value, or a positional argument gives an error;
// a later repetition of an option replaces the earlier value.
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The usage text, ending in a newline.
std::string usageText(std::string_view program);

}  // namespace settingsapp

#include "Options.h"

#include <charconv>
#include <cmath>

namespace settingsapp {
namespace {

std::optional<std::uint16_t> parsePort(std::string_view text) {
  unsigned value = 0;
  if (text.empty() || text.size() > 5) return std::nullopt;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<double> parseScale(std::string_view text) {
  double value = 0;
  if (text.empty()) return std::nullopt;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
      value < 1.0 || value > 4.0) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      continue;
    }
    if (!argument.starts_with("--")) {
      return {std::nullopt, "unexpected argument '" + std::string(argument) + "'"};
    }
    std::string_view name = argument;
    std::optional<std::string_view> value;
    if (auto equals = argument.find('='); equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    if (name != "--root" && name != "--home" && name != "--port" && name != "--scale") {
      return {std::nullopt, "unknown option '" + std::string(name) + "'"};
    }
    if (!value) {
      if (i + 1 >= arguments.size()) {
        return {std::nullopt, "option '" + std::string(name) + "' needs a value"};
      }
      value = arguments[++i];
    }
    if (name == "--root" || name == "--home") {
      if (value->empty()) {
        return {std::nullopt, "option '" + std::string(name) + "' needs a folder"};
      }
      (name == "--root" ? options.root : options.home) = std::string(*value);
    } else if (name == "--port") {
      auto port = parsePort(*value);
      if (!port) {
        return {std::nullopt, "bad port '" + std::string(*value) + "' (0 to 65535)"};
      }
      options.port = *port;
    } else {
      auto scale = parseScale(*value);
      if (!scale) {
        return {std::nullopt, "bad scale '" + std::string(*value) + "' (a number from 1 to 4)"};
      }
      options.scale = *scale;
    }
  }
  return {options, ""};
}

std::string usageText(std::string_view program) {
  std::string text = "usage: ";
  text += program;
  text +=
      " [--root DIR] [--home DIR] [--port N] [--scale N]\n"
      "\n"
      "Serves the Settings application as a web page on http://127.0.0.1:PORT/.\n"
      "\n"
      "  --root DIR   device root (default: $HALVEX_ROOT, else the sample device)\n"
      "  --home DIR   user home, created if missing (default: $HALVEX_HOME,\n"
      "               else ${XDG_DATA_HOME:-$HOME/.local/share}/halvex/mobile)\n"
      "  --port N     port on 127.0.0.1 (default 8080; 0 picks a free port)\n"
      "  --scale N    screen scale for icons and previews, 1 to 4 (default 2)\n"
      "  --help       show this text\n"
      "  --version    show the version\n";
  return text;
}

}  // namespace settingsapp

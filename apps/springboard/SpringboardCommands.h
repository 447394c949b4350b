// The commands of halvex-springboard. Each runs in the home-screen process identity and
// returns the program's exit status.
#pragma once

#include <string>

namespace springboard {

// Prints every Halvex notification heard as one JSON line, until SIGINT or SIGTERM.
int listen();
// Change the registry as the home screen does (an add or a remove posts
// "HXApplicationSpringboardChangedBackgrounding"). Exit status 1, with the reason on standard
// error, when the change was not stored or the identifier is not valid UTF-8; nothing is
// posted then.
int enable(const std::string& identifier);
int disable(const std::string& identifier);
int clear();
// The registry's list and the global settings, as JSON.
int status();
// The application catalogue, as JSON.
int apps();

}  // namespace springboard

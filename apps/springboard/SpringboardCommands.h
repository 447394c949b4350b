// The commands of halvex-springboard. Each runs in the home-screen process identity and
// returns the program's exit status.
#pragma once

#include <string>

namespace springboard {

// Prints every Halvex notification heard as one JSON line, until SIGINT or SIGTERM.
int listen();
// Change the registry as the home screen does (an add or a remove posts
// "HXApplicationSpringboardChangedBackgrounding"). The exit status says what the change came
// to: 0 stored (or nothing to change); 1 not stored, or the identifier is not valid UTF-8
// (nothing is posted then); 3 stored, but the folder could not be flushed, so it may not
// survive a power loss; 4 stored, but the post did not reach the bus. Any but 0 comes with
// the words on standard error.
int enable(const std::string& identifier);
int disable(const std::string& identifier);
int clear();
// The registry's list and the global settings, as JSON.
int status();
// The application catalogue, as JSON.
int apps();

}  // namespace springboard

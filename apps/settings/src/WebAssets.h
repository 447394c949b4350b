// The page's files (HTML, CSS, JavaScript), embedded into the program when it is built, so
// that the program serves exactly the page it was built with, wherever it runs from.
#pragma once

#include <string_view>

namespace settingsapp {

struct WebAsset {
  std::string_view path;         // the URL path: "/" for the page, "/app.js", ...
  std::string_view contentType;  // with charset for text
  std::string_view body;
};

// The asset served at `path`, or nullptr. The returned asset lives for the process.
const WebAsset* findWebAsset(std::string_view path);

}  // namespace settingsapp

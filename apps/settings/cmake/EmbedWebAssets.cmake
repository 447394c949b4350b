# Writes a C++ source that holds the page's files, for findWebAsset().
# Run as: cmake -DSOURCE_DIR=<web folder> -DOUTPUT=<file.cpp> -P EmbedWebAssets.cmake
file(GLOB files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(SORT files)
set(arrays "")
set(table "")
set(index 0)
foreach(name IN LISTS files)
  if(IS_DIRECTORY "${SOURCE_DIR}/${name}")
    continue()
  endif()
  get_filename_component(extension "${name}" LAST_EXT)
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  elseif(extension STREQUAL ".png")
    set(type "image/png")
  else()
    continue()
  endif()
  file(READ "${SOURCE_DIR}/${name}" hex HEX)
  file(SIZE "${SOURCE_DIR}/${name}" size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "const char kAsset${index}[] = {${bytes} 0};\n")
  if(name STREQUAL "index.html")
    string(APPEND table "    {\"/\", \"${type}\", std::string_view(kAsset${index}, ${size})},\n")
  endif()
  string(APPEND table "    {\"/${name}\", \"${type}\", std::string_view(kAsset${index}, ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(content "// Generated from the web folder at build time; do not edit.
#include \"WebAssets.h\"

namespace settingsapp {
namespace {

${arrays}
const WebAsset kAssets[] = {
${table}};

}  // namespace

const WebAsset* findWebAsset(std::string_view path) {
  for (const WebAsset& asset : kAssets) {
    if (asset.path == path) return &asset;
  }
  return nullptr;
}

}  // namespace settingsapp
")
# Rewrite only on change, so an unchanged page does not rebuild the program.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")

// The JSON the browser is sent of a page: the whole page, or the changes that turn one
// snapshot of a page into a later snapshot of the same page. Text is made valid UTF-8 first
// (each invalid byte becomes U+FFFD), since a browser drops a WebSocket that sends invalid
// text, and '<' and '>' are escaped so that no text reads as markup.
//
// Changes form a JSON array whose elements are applied in order, each to the page as the ones
// before it left it:
//   {"section":S,"at":I,"remove":K,"rows":[...]}   rows I..I+K-1 of section S give way to
//                                                  the rows listed (K or the list may be empty)
//   {"section":S,"header":"...","footer":"...","footerImage":{...}|null}
//                                                  the section's texts and footer view
// A row or a footer image is written as in the whole page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PageSnapshot.h"

namespace settingsapp {

// {"title":...,"backTitle":...,"canGoBack":...,"error":...,"sections":[...]}. Footer view
// URLs carry `version`.
std::string pageToJson(const PageSnapshot& page, std::uint64_t version);
// The same, appended to `out`.
void appendPageJson(std::string& out, const PageSnapshot& page, std::uint64_t version);

// The elements (without the brackets) of the changes from `before` to `after`, with footer
// view URLs of `version`; empty when nothing changed but the footer views, which are sent
// again on every version since the page may draw them differently. None when `after` is
// another page (another title, place in the navigation, error or number of sections): the
// browser needs the whole page then.
std::optional<std::string> pageChangesJson(const PageSnapshot& before, const PageSnapshot& after,
                                           std::uint64_t version);

// `text` with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text);
// Appends `text` as a JSON string literal, made valid UTF-8 and escaped as above.
void appendJsonString(std::string& out, std::string_view text);

// The URL path of a row image, "/image/KEY.png", and of a footer view,
// "/footer/SECTION.png?v=VERSION" (the version busts the browser's cache per change).
std::string imageUrl(std::string_view key);
std::string footerUrl(std::size_t section, std::uint64_t version);

}  // namespace settingsapp

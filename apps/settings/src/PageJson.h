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

#include "platform/settings-host/SettingsPage.h"

namespace settingsapp {

using platform::SettingsAccessory;
using platform::SettingsPage;
using platform::SettingsRow;
using platform::SettingsRowKind;
using platform::SettingsSection;

// {"title":...,"backTitle":...,"canGoBack":...,"depth":...,"error":...,"sections":[...]}.
// Footer view URLs carry `version`. A section is {"header":...,"footer":...,"footerImage":...,
// "count":N,"rows":[...]}: its first rows, at most `firstRows` of the page's in page order, and
// N, how many it has in all. A row is
//   {"title":...,"id":...,"value":...,"icon":URL|null,"kind":...,"accessory":...,"on":...,
//    "enabled":...,"searchable":...}
// with the names of SettingsPage.h; "id" (the row's identifier) only when it has one, and
// "searchable" true for a plain row, which the page's search field filters.
std::string pageToJson(const SettingsPage& page, std::uint64_t version,
                       std::size_t firstRows = SIZE_MAX);
// The same, appended to `out`.
void appendPageJson(std::string& out, const SettingsPage& page, std::uint64_t version,
                    std::size_t firstRows = SIZE_MAX);
// Rows `from` to `from + count - 1` of `section`, as a JSON array of rows.
void appendRowsJson(std::string& out, const SettingsSection& section, std::size_t from,
                    std::size_t count);

// True when the two snapshots are of the same page (title, place in the navigation, error and
// number of sections), so that changes can turn one into the other.
bool samePage(const SettingsPage& a, const SettingsPage& b);
// True when the two complete snapshots show the same in the browser: everything the JSON
// carries of them is equal (footer views compare by their text and height, not as objects).
// False when either lacks rows.
bool showsSame(const SettingsPage& a, const SettingsPage& b);

// The elements (without the brackets) of the changes from `before` to `after`, with footer
// view URLs of `version`; empty when nothing changed but the footer views, which are sent
// again on every version since the page may draw them differently. None when `after` is
// another page (another title, place in the navigation, error or number of sections), or when
// either snapshot lacks rows: the browser needs the whole page then.
std::optional<std::string> pageChangesJson(const SettingsPage& before, const SettingsPage& after,
                                           std::uint64_t version);

// Appends `text` as a JSON string literal, made valid UTF-8 and escaped as above.
void appendJsonString(std::string& out, std::string_view text);

// The URL path of a row image, "/image/KEY.png", and of a footer view,
// "/footer/SECTION.png?v=VERSION" (the version busts the browser's cache per change).
std::string imageUrl(std::string_view key);
std::string footerUrl(std::size_t section, std::uint64_t version);
// The key of an image URL as imageUrl makes it; "" for any other text.
std::string imageKeyOfUrl(std::string_view url);

}  // namespace settingsapp

// Page plists: the file format of list pages ({ title, items: [item, ...] }) turned into
// PSSpecifier objects, with labels localised from the matching .strings table. Bad input
// never stops a page from loading: a malformed file gives an empty list, a bad item is left
// out, and each gets one log line that names the file and the item. Main thread only.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/settings-host/PSSpecifier.h"

namespace platform {

class Env;

// A .strings table: source text to localised text.
using LocalizedStrings = std::map<std::string, std::string, std::less<>>;

struct PagePlist {
  // The root's "title", localised; none when the root has no text title.
  std::optional<std::string> title;
  std::vector<PSSpecifierPtr> specifiers;
};

// Builds the specifiers of a parsed plist root with `target` as their target (may be
// nullptr). `strings` (may be nullptr) localises label, footerText, validTitles, shortTitles
// and the title. `source` names the file in log lines. Never fails: a root that is not a
// dictionary with an "items" array gives no specifiers; an item that is not a dictionary or
// has no known "cell" is left out; an item naming an unknown class ("detail", "cellClass",
// "footerCellClass", "headerCellClass") stays, with the class ignored. Each gets one log line.
PagePlist specifiersFromPlistValue(const Value& root, Object* target,
                                   const LocalizedStrings* strings, std::string_view source);

// Reads "<name>.plist" from the bundle folder `bundlePath` and its "<name>.strings" (from
// en.lproj, English.lproj or Base.lproj, else the folder itself) and builds the specifiers
// as above. A missing or unreadable file gives no specifiers and one log line.
PagePlist loadPagePlist(Env& env, const std::string& bundlePath, std::string_view name,
                        Object* target);

}  // namespace platform

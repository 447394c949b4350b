// What the browser shows of the Settings host's current page: a plain copy taken on the main
// thread, owning all its text. It holds no reference into the host, so it stays valid after
// the page it was taken from is gone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace settingsapp {

enum class RowKind {
  Link,        // opens a page (a Settings entry, an application, a detail page)
  LinkList,    // shows the title of its value and opens the list of choices
  ListItem,    // one choice of a list page; the current one carries a checkmark
  Switch,      // an on/off switch
  Button,      // runs an action
  StaticText,  // text only
  TitleValue,  // a title with a value, not selectable
};

enum class Accessory { None, Disclosure, Checkmark };

struct RowSnapshot {
  std::string title;
  std::string value;     // the value text of a link list or title-value row
  std::string imageKey;  // names an image for SettingsSession::imagePng; empty = no image
  RowKind kind = RowKind::StaticText;
  Accessory accessory = Accessory::None;
  bool on = false;      // a switch's state
  bool enabled = true;  // false greys the row and locks its control
  // True for an entry of a list the page built itself (an application of the root page),
  // which the page's search field filters; false for rows its specifiers describe.
  bool searchable = false;
  friend bool operator==(const RowSnapshot&, const RowSnapshot&) = default;
};

struct SectionSnapshot {
  std::string header;
  std::string footer;
  // True when the section's footer is a custom view, drawn by SettingsSession::footerPng.
  bool footerView = false;
  double footerHeight = 0;     // points; the height the view asks for
  std::string footerViewText;  // what the footer view shows, as text (its labels in order)
  std::vector<RowSnapshot> rows;
  friend bool operator==(const SectionSnapshot&, const SectionSnapshot&) = default;
};

struct PageSnapshot {
  std::string title;
  std::string backTitle;  // the title of the page below, for the back button
  bool canGoBack = false;
  // The page's place in the navigation: 0 for the first page. Two snapshots with another
  // depth or title are two pages, however alike.
  std::size_t depth = 0;
  // A page that could not be shown (a settings bundle that failed to load): the reason,
  // shown instead of sections. Empty for an ordinary page.
  std::string errorText;
  std::vector<SectionSnapshot> sections;
  friend bool operator==(const PageSnapshot&, const PageSnapshot&) = default;
};

// True for the kinds of row that a tap acts on.
inline bool isSelectable(RowKind kind) {
  return kind == RowKind::Link || kind == RowKind::LinkList || kind == RowKind::ListItem ||
         kind == RowKind::Button;
}

}  // namespace settingsapp

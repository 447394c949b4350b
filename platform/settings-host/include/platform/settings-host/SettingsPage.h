// A Settings page as plain data: what SettingsDriver reads from a page's table, and what a host
// shows of it (the web host sends it to the browser as it stands). The row kinds and their
// names live here once; the browser reads the same names.
//
// A snapshot owns its text and shares only images and footer views with the page. Taking one
// calls into the page, so it is made on the main thread; once made it is plain data, and reading
// it from another thread is safe while nobody changes it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class UIImage;
class UIView;

namespace platform {

enum class SettingsRowKind {
  Switch,      // PSSwitchCell: isOn; turned on or off through its cell
  Link,        // PSLinkCell: a tap opens a page
  LinkList,    // PSLinkListCell: detail is the current choice; a tap opens the choices
  ListItem,    // PSListItemCell: one choice of a list page; a tap picks it
  Button,      // PSButtonCell: a tap calls its action
  TitleValue,  // PSTitleValueCell: detail is the value
  StaticText,  // PSStaticTextCell
  EditText,    // PSEditTextCell, PSSecureEditTextCell: detail is the value
  Other,       // any other specifier kind (slider, segment, ...), shown by title only
  // A cell the page made itself, without a specifier (an application row of a list the page
  // builds). A tap goes to the page's own selection callback; a page's search filters these.
  Plain,
};

// The kind's name: its enumerator in lower camel case ("switch", "link", "linkList",
// "listItem", "button", "titleValue", "staticText", "editText", "other", "plain").
std::string_view settingsRowKindName(SettingsRowKind kind);
// True for the kinds a tap acts on: Link, LinkList, ListItem, Button and Plain.
bool isSelectableRowKind(SettingsRowKind kind);

enum class SettingsAccessory { None, Disclosure, Checkmark };
// "none", "disclosure", "checkmark".
std::string_view settingsAccessoryName(SettingsAccessory accessory);

struct SettingsRow {
  SettingsRowKind kind = SettingsRowKind::Plain;
  std::string title;   // the cell's text label
  std::string detail;  // the cell's detail label: a link list's choice, a value
  // What names the row on its page: the specifier's "id", else its "key", else its label;
  // "" for a cell without a specifier. See rowIsNamed.
  std::string identifier;
  std::shared_ptr<UIImage> image;  // the cell's image, or null
  // The name a host gives `image` to serve it by ("" from the driver, and for no image).
  std::string imageKey;
  bool isOn = false;    // a switch's state as shown
  bool enabled = true;  // false: greyed; actions on it are refused
  SettingsAccessory accessory = SettingsAccessory::None;
};

// How an action names the row it was meant for, so that the row is still found after rows
// moved: by its identifier; a row without one (a cell the page made itself, such as an
// application) by what it shows, its title and its image's key. The section is no part of the
// name, so a row that moved to another section is still the same row.
struct SettingsRowName {
  std::string identifier;
  std::string title;
  std::string imageKey;
};
bool rowIsNamed(const SettingsRow& row, const SettingsRowName& name);

struct SettingsSection {
  std::optional<std::string> header;   // the header title
  std::optional<std::string> footer;   // the footer text (none when a footer view shows)
  std::shared_ptr<UIView> footerView;  // a custom footer view, or null
  double footerHeight = -1;            // its height; negative: automatic
  std::string footerViewText;          // what the footer view shows, as text (labels in order)
  // The first rows of the section; `unreadRows` more follow that the snapshot did not read
  // (see SettingsDriver::currentPage).
  std::vector<SettingsRow> rows;
  std::size_t unreadRows = 0;

  std::size_t rowCount() const { return rows.size() + unreadRows; }
};

struct SettingsPage {
  std::string title;
  std::string backTitle;     // the title of the page below; "" on the entries list
  bool canGoBack = false;    // false only on the entries list
  std::size_t depth = 0;     // 0 for the entries list, 1 for an entry's first page, ...
  bool isError = false;      // the page says why an entry could not open
  std::string error;         // that reason (never empty on an error page)
  bool isListItems = false;  // a PSListItemsController: rows are choices
  std::vector<SettingsSection> sections;

  // True when every section holds all of its rows.
  bool isComplete() const;
};

}  // namespace platform

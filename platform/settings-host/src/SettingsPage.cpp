#include "platform/settings-host/SettingsPage.h"

#include <array>

namespace platform {
namespace {

struct RowKindEntry {
  SettingsRowKind kind;
  std::string_view name;
  bool selectable;
};

// In the enumeration's order, so that a kind is its own index.
constexpr std::array<RowKindEntry, 10> kRowKinds = {{
    {SettingsRowKind::Switch, "switch", false},
    {SettingsRowKind::Link, "link", true},
    {SettingsRowKind::LinkList, "linkList", true},
    {SettingsRowKind::ListItem, "listItem", true},
    {SettingsRowKind::Button, "button", true},
    {SettingsRowKind::TitleValue, "titleValue", false},
    {SettingsRowKind::StaticText, "staticText", false},
    {SettingsRowKind::EditText, "editText", false},
    {SettingsRowKind::Other, "other", false},
    {SettingsRowKind::Plain, "plain", true},
}};

constexpr bool inEnumerationOrder() {
  for (std::size_t i = 0; i < kRowKinds.size(); ++i) {
    if (static_cast<std::size_t>(kRowKinds[i].kind) != i) return false;
  }
  return true;
}
static_assert(inEnumerationOrder());

const RowKindEntry& entryFor(SettingsRowKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return kRowKinds[index < kRowKinds.size() ? index
                                            : static_cast<std::size_t>(SettingsRowKind::Other)];
}

}  // namespace

std::string_view settingsRowKindName(SettingsRowKind kind) {
  return entryFor(kind).name;
}

bool isSelectableRowKind(SettingsRowKind kind) {
  return entryFor(kind).selectable;
}

std::string_view settingsAccessoryName(SettingsAccessory accessory) {
  switch (accessory) {
    case SettingsAccessory::Disclosure:
      return "disclosure";
    case SettingsAccessory::Checkmark:
      return "checkmark";
    case SettingsAccessory::None:
      break;
  }
  return "none";
}

bool rowIsNamed(const SettingsRow& row, const SettingsRowName& name) {
  if (!row.identifier.empty()) return row.identifier == name.identifier;
  return name.identifier.empty() && row.title == name.title && row.imageKey == name.imageKey;
}

bool SettingsPage::isComplete() const {
  for (const SettingsSection& section : sections) {
    if (section.unreadRows > 0) return false;
  }
  return true;
}

}  // namespace platform

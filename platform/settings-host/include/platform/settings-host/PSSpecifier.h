// One row or group of a list page, as a specifier plist item describes it: its kind, its
// label, the operations on its target that read and write its value, the page it opens, and
// every other key of the item as a property. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

// The kind of a row. A plist names it by this name ("PSSwitchCell") or by its number (6).
enum PSCellType : int {
  PSGroupCell = 0,
  PSLinkCell = 1,
  PSLinkListCell = 2,
  PSListItemCell = 3,
  PSTitleValueCell = 4,
  PSSliderCell = 5,
  PSSwitchCell = 6,
  PSStaticTextCell = 7,
  PSEditTextCell = 8,
  PSSegmentCell = 9,
  PSGiantIconCell = 10,
  PSGiantCell = 11,
  PSSecureEditTextCell = 12,
  PSButtonCell = 13,
  PSEditTextViewCell = 14,
  PSSpinnerCell = 15,
};

namespace platform {

// The cell kind for a plist's "cell" value: a kind name or its number. None for anything
// else (an unknown name, a number out of range, another kind of value).
std::optional<PSCellType> cellTypeFromValue(const Value& value);
// "PSSwitchCell" for PSSwitchCell; "" for a number outside the enumeration.
std::string_view cellTypeName(PSCellType type);

}  // namespace platform

// Values to titles, in the order of the item's validValues. Keys compare as values do, so
// the number 1 and the text "1" are different keys. A repeated key keeps its last title.
class PSTitleDictionary {
 public:
  using Entry = std::pair<platform::Value, platform::Value>;

  PSTitleDictionary() = default;
  // Pairs values[i] with titles[i]. Empty (and `matched` false) when the counts differ.
  static PSTitleDictionary fromValuesTitles(const platform::Value::Array& values,
                                            const platform::Value::Array& titles,
                                            bool* matched = nullptr);

  // The title for `key`, or None when the dictionary has no such key.
  platform::Value objectForKey(const platform::Value& key) const;
  // Every key whose title equals `title`, in order.
  std::vector<platform::Value> allKeysForObject(const platform::Value& title) const;
  const std::vector<Entry>& entries() const { return entries_; }
  std::size_t count() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<Entry> entries_;
};

class PSSpecifier;
using PSSpecifierPtr = std::shared_ptr<PSSpecifier>;

class PSSpecifier : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  PSSpecifier() = default;

  // A specifier made in code, as a page makes rows the plist does not hold. `set`/`get` are
  // selector texts on `target` ("" for none); `detail` is a class name ("" for none).
  static PSSpecifierPtr preferenceSpecifierNamedTargetSetGetDetailCellEdit(
      std::string name, platform::Object* target, std::string set, std::string get,
      std::string detail, PSCellType cell, std::string edit = {});
  static PSSpecifierPtr emptyGroupSpecifier();
  static PSSpecifierPtr groupSpecifierWithName(std::string name);

  // The object whose operations the getter, setter and action name (the page that loaded
  // the plist). Not owned: nullptr once that object is gone.
  std::shared_ptr<platform::Object> target() const { return target_.lock(); }
  // Keeps a non-owning reference; nullptr, or an object not owned by a shared_ptr, clears it.
  void setTarget(platform::Object* target);

  // Every key of the plist item, localised where the host localises it, plus what was set
  // later. The named accessors below read from and write to the same properties.
  const platform::Value::Dictionary& properties() const { return properties_; }
  // None when absent.
  platform::Value propertyForKey(std::string_view key) const;
  // Replaces every property at once (the cell kind too, when "cell" names one).
  void setProperties(platform::Value::Dictionary properties);
  // A None value removes the key. Setting "id", "label" or "cell" changes identifier(),
  // name() or cellType() accordingly.
  void setPropertyForKey(platform::Value value, std::string_view key);

  // The item's "id" when it is text, else its label.
  std::string identifier() const;
  void setIdentifier(std::string identifier);
  // The (localised) label; "" when the item has none.
  std::string name() const;
  void setName(std::string name);
  PSCellType cellType() const { return cellType_; }
  void setCellType(PSCellType type) { cellType_ = type; }

  // Selector texts: the getter ("get"), setter ("set") and action ("action"); "" for none.
  std::string getter() const;
  std::string setter() const;
  std::string action() const;

  // The class named by "detail", when it is registered; nullptr otherwise. A link-list row
  // without "detail" opens PSListItemsController, so that is its answer.
  const platform::Class* detailControllerClass() const;
  // The name the item gave for "detail" ("" for none).
  std::string detailControllerClassName() const;

  // Link-list choices: validValues, and validValues paired with validTitles / shortTitles.
  // Unequal counts give an empty dictionary, so rows show no title rather than a wrong one.
  const platform::Value::Array& values() const;
  const PSTitleDictionary& titleDictionary() const { return titleDictionary_; }
  const PSTitleDictionary& shortTitleDictionary() const { return shortTitleDictionary_; }
  // Replaces validValues/validTitles/shortTitles and rebuilds both dictionaries.
  void setValuesTitlesShortTitles(platform::Value::Array values, platform::Value::Array titles,
                                  platform::Value::Array shortTitles = {});

  // False exactly when the "enabled" property holds a value whose boolValue is false.
  bool isEnabled() const;

  // The row's current value: the getter's answer on the target ("x" takes nothing, "x:" this
  // specifier). Without a getter, the target's readPreferenceValue: when it has one. None
  // when there is no target, no getter, or the target does not answer the selector.
  platform::Value performGetter();
  // Calls the setter with `value`, plus this specifier when the selector has two colons
  // ("setX:" takes the value, "setX:forSpecifier:" the value and the specifier). Without a
  // setter, the target's setPreferenceValue:specifier:. Returns false when nothing was called.
  // An exception from the target passes through to the caller.
  bool performSetterWithValue(const platform::Value& value);
  // Calls the action ("x" with nothing, "x:" with this specifier). False when nothing was called.
  bool performAction();

  // The value a row shows: the getter's answer, else the "default" property.
  platform::Value currentValue();

 private:
  // Logs a count mismatch when `report` (once per plist item, not per key set).
  void rebuildTitleDictionaries(bool report);

  std::weak_ptr<platform::Object> target_;
  platform::Value::Dictionary properties_;
  PSCellType cellType_ = PSGroupCell;
  PSTitleDictionary titleDictionary_;
  PSTitleDictionary shortTitleDictionary_;
};

// Property keys the host reads. Strings, for use with propertyForKey().
namespace PSKey {
inline constexpr std::string_view kCell = "cell";
inline constexpr std::string_view kLabel = "label";
inline constexpr std::string_view kID = "id";
inline constexpr std::string_view kKey = "key";
inline constexpr std::string_view kDefault = "default";
inline constexpr std::string_view kDefaults = "defaults";
inline constexpr std::string_view kGet = "get";
inline constexpr std::string_view kSet = "set";
inline constexpr std::string_view kAction = "action";
inline constexpr std::string_view kDetail = "detail";
inline constexpr std::string_view kCellClass = "cellClass";
inline constexpr std::string_view kEnabled = "enabled";
inline constexpr std::string_view kNegate = "negate";
inline constexpr std::string_view kValidValues = "validValues";
inline constexpr std::string_view kValidTitles = "validTitles";
inline constexpr std::string_view kShortTitles = "shortTitles";
inline constexpr std::string_view kFooterText = "footerText";
inline constexpr std::string_view kFooterAlignment = "footerAlignment";
inline constexpr std::string_view kFooterCellClass = "footerCellClass";
inline constexpr std::string_view kHeaderCellClass = "headerCellClass";
inline constexpr std::string_view kIsController = "isController";
inline constexpr std::string_view kBundle = "bundle";
inline constexpr std::string_view kIcon = "icon";
// Set by the list-items page on each choice row: the value that row stands for.
inline constexpr std::string_view kValue = "value";
}  // namespace PSKey

#include "platform/settings-host/PSSpecifier.h"

#include <array>

#include "platform/foundation/Log.h"

using platform::Value;

namespace {

const Value::Array& emptyArrayValue() {
  static const Value::Array* empty = new Value::Array();
  return *empty;
}

std::string textProperty(const Value::Dictionary& properties, std::string_view key) {
  auto it = properties.find(key);
  return it != properties.end() && it->second.isString() ? it->second.stringValue() : "";
}

}  // namespace

namespace platform {
namespace {

constexpr std::array<std::string_view, 16> kCellTypeNames = {
    "PSGroupCell",          "PSLinkCell",    "PSLinkListCell",     "PSListItemCell",
    "PSTitleValueCell",     "PSSliderCell",  "PSSwitchCell",       "PSStaticTextCell",
    "PSEditTextCell",       "PSSegmentCell", "PSGiantIconCell",    "PSGiantCell",
    "PSSecureEditTextCell", "PSButtonCell",  "PSEditTextViewCell", "PSSpinnerCell",
};

}  // namespace

std::optional<PSCellType> cellTypeFromValue(const Value& value) {
  if (value.isString()) {
    for (std::size_t i = 0; i < kCellTypeNames.size(); ++i) {
      if (kCellTypeNames[i] == value.stringValue()) return static_cast<PSCellType>(i);
    }
    return std::nullopt;
  }
  // Only whole numbers name a kind; a boolean or 6.5 is a malformed item, not a switch.
  if (value.isInteger() && !value.isUnsignedInteger()) {
    const std::int64_t number = value.integerBits();
    if (number >= 0 && number < static_cast<std::int64_t>(kCellTypeNames.size())) {
      return static_cast<PSCellType>(number);
    }
  }
  return std::nullopt;
}

std::string_view cellTypeName(PSCellType type) {
  const auto index = static_cast<std::size_t>(type);
  return index < kCellTypeNames.size() ? kCellTypeNames[index] : std::string_view();
}

}  // namespace platform

PSTitleDictionary PSTitleDictionary::fromValuesTitles(const Value::Array& values,
                                                      const Value::Array& titles, bool* matched) {
  PSTitleDictionary dictionary;
  const bool same = values.size() == titles.size();
  if (matched != nullptr) *matched = same;
  if (!same) return dictionary;
  for (std::size_t i = 0; i < values.size(); ++i) {
    bool replaced = false;
    for (Entry& entry : dictionary.entries_) {
      if (entry.first == values[i]) {
        entry.second = titles[i];
        replaced = true;
        break;
      }
    }
    if (!replaced) dictionary.entries_.emplace_back(values[i], titles[i]);
  }
  return dictionary;
}

Value PSTitleDictionary::objectForKey(const Value& key) const {
  for (const Entry& entry : entries_) {
    if (entry.first == key) return entry.second;
  }
  return {};
}

std::vector<Value> PSTitleDictionary::allKeysForObject(const Value& title) const {
  std::vector<Value> keys;
  for (const Entry& entry : entries_) {
    if (entry.second == title) keys.push_back(entry.first);
  }
  return keys;
}

const platform::Class& PSSpecifier::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("PSSpecifier", &Object::staticClass(),
                                  [] { return std::make_shared<PSSpecifier>(); });
    c->addMethod("propertyForKey:", [](Object& self, const platform::Arguments& args) {
      return platform::receiver<PSSpecifier>(self).propertyForKey(args[0].stringValue());
    });
    c->addMethod("setProperty:forKey:", [](Object& self, const platform::Arguments& args) {
      platform::receiver<PSSpecifier>(self).setPropertyForKey(args[0], args[1].stringValue());
      return Value();
    });
    c->addMethod("identifier", [](Object& self, const platform::Arguments&) {
      return Value(platform::receiver<PSSpecifier>(self).identifier());
    });
    c->addMethod("name", [](Object& self, const platform::Arguments&) {
      return Value(platform::receiver<PSSpecifier>(self).name());
    });
    c->addMethod("target", [](Object& self, const platform::Arguments&) {
      return Value::object(platform::receiver<PSSpecifier>(self).target());
    });
    c->addMethod("values", [](Object& self, const platform::Arguments&) {
      return Value(platform::receiver<PSSpecifier>(self).values());
    });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

PSSpecifierPtr PSSpecifier::preferenceSpecifierNamedTargetSetGetDetailCellEdit(
    std::string name, platform::Object* target, std::string set, std::string get,
    std::string detail, PSCellType cell, std::string edit) {
  auto specifier = std::make_shared<PSSpecifier>();
  specifier->setName(std::move(name));
  specifier->setTarget(target);
  if (!set.empty()) specifier->properties_[std::string(PSKey::kSet)] = Value(std::move(set));
  if (!get.empty()) specifier->properties_[std::string(PSKey::kGet)] = Value(std::move(get));
  if (!detail.empty()) {
    specifier->properties_[std::string(PSKey::kDetail)] = Value(std::move(detail));
  }
  if (!edit.empty()) specifier->properties_["edit"] = Value(std::move(edit));
  specifier->setCellType(cell);
  specifier->properties_[std::string(PSKey::kCell)] =
      Value(std::string(platform::cellTypeName(cell)));
  return specifier;
}

PSSpecifierPtr PSSpecifier::emptyGroupSpecifier() {
  return groupSpecifierWithName("");
}

PSSpecifierPtr PSSpecifier::groupSpecifierWithName(std::string name) {
  return preferenceSpecifierNamedTargetSetGetDetailCellEdit(std::move(name), nullptr, "", "", "",
                                                            PSGroupCell);
}

void PSSpecifier::setTarget(platform::Object* target) {
  target_ = target != nullptr ? target->weak_from_this() : std::weak_ptr<platform::Object>();
}

Value PSSpecifier::propertyForKey(std::string_view key) const {
  auto it = properties_.find(key);
  return it == properties_.end() ? Value() : it->second;
}

void PSSpecifier::setProperties(Value::Dictionary properties) {
  properties_ = std::move(properties);
  if (auto type = platform::cellTypeFromValue(propertyForKey(PSKey::kCell))) cellType_ = *type;
  rebuildTitleDictionaries(true);
}

void PSSpecifier::setPropertyForKey(Value value, std::string_view key) {
  if (key == PSKey::kCell) {
    if (auto type = platform::cellTypeFromValue(value)) cellType_ = *type;
  }
  if (value.isNone()) {
    auto it = properties_.find(key);
    if (it != properties_.end()) properties_.erase(it);
  } else {
    properties_[std::string(key)] = std::move(value);
  }
  if (key == PSKey::kValidValues || key == PSKey::kValidTitles || key == PSKey::kShortTitles) {
    rebuildTitleDictionaries(false);
  }
}

std::string PSSpecifier::identifier() const {
  std::string id = textProperty(properties_, PSKey::kID);
  return id.empty() ? name() : id;
}

void PSSpecifier::setIdentifier(std::string identifier) {
  properties_[std::string(PSKey::kID)] = Value(std::move(identifier));
}

std::string PSSpecifier::name() const {
  return textProperty(properties_, PSKey::kLabel);
}

void PSSpecifier::setName(std::string name) {
  properties_[std::string(PSKey::kLabel)] = Value(std::move(name));
}

std::string PSSpecifier::getter() const {
  return textProperty(properties_, PSKey::kGet);
}
std::string PSSpecifier::setter() const {
  return textProperty(properties_, PSKey::kSet);
}
std::string PSSpecifier::action() const {
  return textProperty(properties_, PSKey::kAction);
}

std::string PSSpecifier::detailControllerClassName() const {
  return textProperty(properties_, PSKey::kDetail);
}

const platform::Class* PSSpecifier::detailControllerClass() const {
  std::string name = detailControllerClassName();
  if (name.empty() && cellType_ == PSLinkListCell) name = "PSListItemsController";
  return name.empty() ? nullptr : platform::ClassRegistry::shared().lookup(name);
}

const Value::Array& PSSpecifier::values() const {
  auto it = properties_.find(PSKey::kValidValues);
  return it != properties_.end() && it->second.isArray() ? it->second.arrayValue()
                                                         : emptyArrayValue();
}

void PSSpecifier::setValuesTitlesShortTitles(Value::Array values, Value::Array titles,
                                             Value::Array shortTitles) {
  properties_[std::string(PSKey::kValidValues)] = Value(std::move(values));
  properties_[std::string(PSKey::kValidTitles)] = Value(std::move(titles));
  if (shortTitles.empty()) {
    properties_.erase(std::string(PSKey::kShortTitles));
  } else {
    properties_[std::string(PSKey::kShortTitles)] = Value(std::move(shortTitles));
  }
  rebuildTitleDictionaries(true);
}

void PSSpecifier::rebuildTitleDictionaries(bool report) {
  const Value titles = propertyForKey(PSKey::kValidTitles);
  const Value shortTitles = propertyForKey(PSKey::kShortTitles);
  bool matched = true;
  titleDictionary_ = PSTitleDictionary::fromValuesTitles(
      values(), titles.isArray() ? titles.arrayValue() : emptyArrayValue(), &matched);
  if (!matched && report && !titles.isNone()) {
    platform::NSLog("Specifier \"" + identifier() +
                    "\": validValues and validTitles differ in length; its choices show no titles");
  }
  shortTitleDictionary_ = shortTitles.isArray() ? PSTitleDictionary::fromValuesTitles(
                                                      values(), shortTitles.arrayValue(), &matched)
                                                : PSTitleDictionary();
}

bool PSSpecifier::isEnabled() const {
  const Value enabled = propertyForKey(PSKey::kEnabled);
  if (enabled.isNone()) return true;
  return enabled.boolValue().value_or(true);
}

Value PSSpecifier::performGetter() {
  auto target = target_.lock();
  if (!target) return {};
  std::string selector = getter();
  if (selector.empty()) {
    if (!target->respondsToSelector("readPreferenceValue:")) return {};
    selector = "readPreferenceValue:";
  }
  if (!target->respondsToSelector(selector)) return {};
  return target->performSelector(selector, {Value::object(shared_from_this())});
}

bool PSSpecifier::performSetterWithValue(const Value& value) {
  auto target = target_.lock();
  if (!target) return false;
  std::string selector = setter();
  if (selector.empty()) selector = "setPreferenceValue:specifier:";
  if (!target->respondsToSelector(selector)) return false;
  // The runtime cuts the arguments to the selector's colon count, so "setX:" sees the value
  // alone and "setX:forSpecifier:" the value and this specifier.
  target->performSelector(selector, {value, Value::object(shared_from_this())});
  return true;
}

bool PSSpecifier::performAction() {
  auto target = target_.lock();
  const std::string selector = action();
  if (!target || selector.empty() || !target->respondsToSelector(selector)) return false;
  target->performSelector(selector, {Value::object(shared_from_this())});
  return true;
}

Value PSSpecifier::currentValue() {
  Value value = performGetter();
  return value.isNone() ? propertyForKey(PSKey::kDefault) : value;
}

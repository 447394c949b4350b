#include "platform/settings-host/PagePlist.h"

#include "SettingsHostIO_p.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Object.h"
#include "platform/workspace/StringsFile.h"

namespace platform {
namespace {

Value localized(const Value& text, const LocalizedStrings* strings) {
  if (strings == nullptr || !text.isString()) return text;
  auto it = strings->find(text.stringValue());
  return it == strings->end() ? text : Value(it->second);
}

Value localizedArray(const Value& texts, const LocalizedStrings* strings) {
  if (strings == nullptr || !texts.isArray()) return texts;
  Value::Array out;
  out.reserve(texts.arrayValue().size());
  for (const Value& text : texts.arrayValue()) out.push_back(localized(text, strings));
  return Value(std::move(out));
}

std::string describeItem(std::string_view source, std::size_t index, const Value& item) {
  std::string where = std::string(source) + " item " + std::to_string(index);
  const Value& label = item["label"];
  if (label.isString() && !label.stringValue().empty()) {
    where += " (\"" + label.stringValue() + "\")";
  }
  return where;
}

// Builds one specifier, or returns nullptr with the reason in `error`.
PSSpecifierPtr specifierFromItem(const Value& item, Object* target, const LocalizedStrings* strings,
                                 const std::string& where, std::string& error) {
  if (!item.isDictionary()) {
    error = where + " is not a dictionary but " + valueKindName(item.kind());
    return nullptr;
  }
  const Value& cell = item[PSKey::kCell];
  std::optional<PSCellType> type = cellTypeFromValue(cell);
  if (!type) {
    error = cell.isNone() ? where + " has no cell kind"
                          : where + " has an unknown cell kind " + cell.description();
    return nullptr;
  }
  Value::Dictionary properties = item.dictionaryValue();
  for (auto& [key, value] : properties) {
    if (key == PSKey::kLabel || key == PSKey::kFooterText) {
      value = localized(value, strings);
    } else if (key == PSKey::kValidTitles || key == PSKey::kShortTitles) {
      value = localizedArray(value, strings);
    }
  }
  auto specifier = std::make_shared<PSSpecifier>();
  specifier->setProperties(std::move(properties));
  specifier->setCellType(*type);
  specifier->setTarget(target);

  for (std::string_view key :
       {PSKey::kDetail, PSKey::kCellClass, PSKey::kFooterCellClass, PSKey::kHeaderCellClass}) {
    const Value& name = item[key];
    if (name.isNone()) continue;
    if (!name.isString() || ClassRegistry::shared().lookup(name.stringValue()) == nullptr) {
      NSLog(where + " names an unknown class " + name.description() + " for \"" + std::string(key) +
            "\"; it is ignored");
    }
  }
  return specifier;
}

}  // namespace

PagePlist specifiersFromPlistValue(const Value& root, Object* target,
                                   const LocalizedStrings* strings, std::string_view source) {
  PagePlist result;
  if (!root.isDictionary()) {
    NSLog(std::string(source) + " is not a dictionary; the page has no rows");
    return result;
  }
  if (root["title"].isString()) result.title = localized(root["title"], strings).stringValue();
  const Value& items = root["items"];
  if (!items.isArray()) {
    NSLog(std::string(source) +
          (items.isNone() ? " has no items" : " has items that are not a list") +
          "; the page has no rows");
    return result;
  }
  const Value::Array& list = items.arrayValue();
  result.specifiers.reserve(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string error;
    const std::string where = describeItem(source, i, list[i]);
    if (PSSpecifierPtr specifier = specifierFromItem(list[i], target, strings, where, error)) {
      result.specifiers.push_back(std::move(specifier));
    } else {
      NSLog(error + "; it is left out");
    }
  }
  return result;
}

PagePlist loadPagePlist(Env& env, const std::string& bundlePath, std::string_view name,
                        Object* target) {
  const std::string file = joinPath(bundlePath, std::string(name) + ".plist");
  std::string error;
  std::optional<Value> root = hostio::readPropertyList(env, file, FileKind::ListPagePlist, error);
  if (!root) {
    NSLog("Cannot load the specifiers " + file + ": " + error + "; the page has no rows");
    return {};
  }

  std::optional<LocalizedStrings> strings;
  const std::string stringsName = std::string(name) + ".strings";
  for (const char* folder : {"en.lproj", "English.lproj", "Base.lproj", ""}) {
    const std::string path =
        joinPath(*folder != '\0' ? joinPath(bundlePath, folder) : bundlePath, stringsName);
    std::string bytes;
    if (!env.readFile(path, FileKind::StringsFile, bytes).isOk()) continue;
    strings = parseStringsFile(bytes);
    if (!strings) NSLog("Cannot read the strings table " + path + "; labels stay as they are");
    break;
  }
  return specifiersFromPlistValue(*root, target, strings ? &*strings : nullptr, file);
}

}  // namespace platform

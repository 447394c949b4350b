#include "SettingsController.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

namespace settingsapp {
namespace {

using platform::Value;

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string valid = validUtf8(text);
  out += '"';
  for (unsigned char c : valid) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        // Control characters must be escaped; '<' and '>' are escaped as well so that the
        // text can never read as markup, whoever looks at the message.
        if (c < 0x20 || c == '<' || c == '>' || c == 0x7f) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xf];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void appendNumber(std::string& out, double number) {
  if (!std::isfinite(number)) number = 0;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", number);
  out += buffer;
}

const char* kindName(RowKind kind) {
  switch (kind) {
    case RowKind::Link:
      return "link";
    case RowKind::LinkList:
      return "linkList";
    case RowKind::ListItem:
      return "item";
    case RowKind::Switch:
      return "switch";
    case RowKind::Button:
      return "button";
    case RowKind::StaticText:
      return "text";
    case RowKind::TitleValue:
      return "value";
  }
  return "text";
}

const char* accessoryName(Accessory accessory) {
  switch (accessory) {
    case Accessory::Disclosure:
      return "disclosure";
    case Accessory::Checkmark:
      return "checkmark";
    case Accessory::None:
      break;
  }
  return "none";
}

std::optional<std::int64_t> integerField(const Value& value) {
  if (value.isInteger() && !value.isUnsignedInteger()) return value.integerBits();
  if (value.isReal()) {
    double number = value.realValue();
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9e15) {
      return static_cast<std::int64_t>(number);
    }
  }
  return std::nullopt;
}

std::string withReplyTo(std::string message, const std::optional<std::int64_t>& replyTo) {
  if (!replyTo) return message;
  // Every message is an object that starts with '{'.
  message.insert(1, "\"replyTo\":" + std::to_string(*replyTo) + ",");
  return message;
}

}  // namespace

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    std::uint32_t code = 0;
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    } else if ((c & 0xe0) == 0xc0) {
      length = 2, minimum = 0x80, code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      length = 3, minimum = 0x800, code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      length = 4, minimum = 0x10000, code = c & 0x07;
    }
    bool ok = length != 0 && i + length <= n;
    for (std::size_t k = 1; ok && k < length; ++k) {
      if ((p[i + k] & 0xc0) != 0x80) ok = false;
      code = (code << 6) | (p[i + k] & 0x3f);
    }
    ok = ok && code >= minimum && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff);
    if (ok) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xef\xbf\xbd";
      ++i;
    }
  }
  return out;
}

std::string pageToJson(const PageSnapshot& page, std::uint64_t version) {
  std::string out;
  out.reserve(256 + page.sections.size() * 64);
  out += "{\"title\":";
  appendJsonString(out, page.title);
  out += ",\"backTitle\":";
  appendJsonString(out, page.backTitle);
  out += ",\"canGoBack\":";
  out += page.canGoBack ? "true" : "false";
  out += ",\"error\":";
  if (page.errorText.empty()) {
    out += "null";
  } else {
    appendJsonString(out, page.errorText);
  }
  out += ",\"sections\":[";
  for (std::size_t s = 0; s < page.sections.size(); ++s) {
    const SectionSnapshot& section = page.sections[s];
    if (s > 0) out += ',';
    out += "{\"header\":";
    appendJsonString(out, section.header);
    out += ",\"footer\":";
    appendJsonString(out, section.footer);
    out += ",\"footerImage\":";
    if (section.footerView) {
      out += "{\"url\":";
      appendJsonString(out, SettingsController::footerUrl(s, version));
      out += ",\"height\":";
      appendNumber(out, section.footerHeight);
      out += ",\"alt\":";
      appendJsonString(out, section.footerViewText);
      out += '}';
    } else {
      out += "null";
    }
    out += ",\"rows\":[";
    for (std::size_t r = 0; r < section.rows.size(); ++r) {
      const RowSnapshot& row = section.rows[r];
      if (r > 0) out += ',';
      out += "{\"title\":";
      appendJsonString(out, row.title);
      out += ",\"value\":";
      appendJsonString(out, row.value);
      out += ",\"icon\":";
      if (row.imageKey.empty()) {
        out += "null";
      } else {
        appendJsonString(out, SettingsController::imageUrl(row.imageKey));
      }
      out += ",\"kind\":\"";
      out += kindName(row.kind);
      out += "\",\"accessory\":\"";
      out += accessoryName(row.accessory);
      out += "\",\"on\":";
      out += row.on ? "true" : "false";
      out += ",\"enabled\":";
      out += row.enabled ? "true" : "false";
      out += ",\"searchable\":";
      out += row.searchable ? "true" : "false";
      out += '}';
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

SettingsController::SettingsController(SettingsSession& session) : session_(session) {
  refresh(true);
}

bool SettingsController::refresh(bool force) {
  std::uint64_t count = 0;
  try {
    count = session_.changeCount();
  } catch (...) {
    return false;
  }
  if (!force && seenChangeCount_ && *seenChangeCount_ == count) return false;
  seenChangeCount_ = count;
  PageSnapshot page;
  try {
    page = session_.currentPage();
  } catch (...) {
    return false;
  }
  // The version stands for what the person sees, so the page's content decides, not the
  // count. Compared without the version, which only the footer URLs carry.
  std::string json = pageToJson(page, 0);
  if (!pageMessage_.empty() && json == pageJson_) return false;
  ++version_;
  page_ = std::move(page);
  pageJson_ = std::move(json);
  pageMessage_ = "{\"type\":\"page\",\"version\":" + std::to_string(version_) +
                 ",\"page\":" + pageToJson(page_, version_) + "}";
  return true;
}

SettingsController::Reply SettingsController::pageReply(
    const std::optional<std::int64_t>& replyTo) {
  return {200, withReplyTo(pageMessage_, replyTo)};
}

SettingsController::Reply SettingsController::errorReply(
    int status, std::string reason, const std::optional<std::int64_t>& replyTo) {
  std::string body = "{\"type\":\"error\",\"status\":" + std::to_string(status) + ",\"reason\":";
  appendJsonString(body, reason);
  body +=
      ",\"version\":" + std::to_string(version_) + ",\"page\":" + pageToJson(page_, version_) + "}";
  return {status, withReplyTo(std::move(body), replyTo)};
}

SettingsController::Reply SettingsController::handleAction(std::string_view text) {
  if (text.size() > kMaxActionBytes) {
    return errorReply(400, "action larger than " + std::to_string(kMaxActionBytes) + " bytes",
                      std::nullopt);
  }
  std::optional<Value> parsed = platform::parseJson(text);
  if (!parsed) return errorReply(400, "action is not valid JSON", std::nullopt);
  if (!parsed->isDictionary()) return errorReply(400, "action must be a JSON object", std::nullopt);
  const Value& message = *parsed;

  std::optional<std::int64_t> replyTo;
  if (!message["id"].isNone()) {
    replyTo = integerField(message["id"]);
    if (!replyTo) return errorReply(400, "\"id\" must be an integer", std::nullopt);
  }
  const Value& actionValue = message["action"];
  if (!actionValue.isString()) return errorReply(400, "missing \"action\"", replyTo);
  const std::string& action = actionValue.stringValue();
  if (action != "select" && action != "setSwitch" && action != "back") {
    return errorReply(400, "unknown action \"" + validUtf8(action.substr(0, 64)) + "\"", replyTo);
  }

  // Changes that arrived since the last dispatch count before the action is judged.
  refresh();

  Outcome outcome;
  try {
    if (action == "back") {
      if (!page_.canGoBack) return errorReply(400, "there is no page to go back to", replyTo);
      outcome = session_.goBack();
    } else {
      const Value& versionValue = message["version"];
      std::optional<std::int64_t> version = integerField(versionValue);
      if (versionValue.isNone()) return errorReply(400, "missing \"version\"", replyTo);
      if (!version) return errorReply(400, "\"version\" must be an integer", replyTo);
      if (*version != static_cast<std::int64_t>(version_)) {
        return errorReply(409, "the page changed before the action arrived; try again", replyTo);
      }
      std::optional<std::int64_t> section = integerField(message["section"]);
      std::optional<std::int64_t> row = integerField(message["row"]);
      if (!section || !row) {
        return errorReply(400, "\"section\" and \"row\" must be integers", replyTo);
      }
      if (*section < 0 || static_cast<std::uint64_t>(*section) >= page_.sections.size()) {
        return errorReply(400, "no section " + std::to_string(*section) + " on this page", replyTo);
      }
      const SectionSnapshot& sectionSnapshot = page_.sections[static_cast<std::size_t>(*section)];
      if (*row < 0 || static_cast<std::uint64_t>(*row) >= sectionSnapshot.rows.size()) {
        return errorReply(
            400, "no row " + std::to_string(*row) + " in section " + std::to_string(*section),
            replyTo);
      }
      const RowSnapshot& target = sectionSnapshot.rows[static_cast<std::size_t>(*row)];
      const auto s = static_cast<std::size_t>(*section);
      const auto r = static_cast<std::size_t>(*row);
      if (action == "select") {
        if (!isSelectable(target.kind))
          return errorReply(400, "this row cannot be selected", replyTo);
        if (!target.enabled) return errorReply(400, "this row is not enabled", replyTo);
        outcome = session_.selectRow(s, r);
      } else {
        const Value& on = message["on"];
        if (!on.isBoolean()) return errorReply(400, "\"on\" must be true or false", replyTo);
        if (target.kind != RowKind::Switch)
          return errorReply(400, "this row is not a switch", replyTo);
        if (!target.enabled) return errorReply(400, "this switch is not enabled", replyTo);
        outcome = session_.setSwitch(s, r, on.booleanValue());
      }
    }
  } catch (const std::exception& error) {
    refresh(true);
    return errorReply(500, std::string("the action failed: ") + error.what(), replyTo);
  } catch (...) {
    refresh(true);
    return errorReply(500, "the action failed", replyTo);
  }
  refresh(true);
  if (outcome) return errorReply(400, *outcome, replyTo);
  return pageReply(replyTo);
}

std::optional<std::string> SettingsController::imagePng(std::string_view key) {
  if (!isValidImageKey(key)) return std::nullopt;
  try {
    return session_.imagePng(key);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> SettingsController::footerPng(std::size_t section, double width,
                                                         Appearance appearance) {
  if (!std::isfinite(width)) width = 375;
  width = std::clamp(width, 160.0, 1600.0);
  refresh();
  if (section >= page_.sections.size() || !page_.sections[section].footerView) return std::nullopt;
  try {
    return session_.footerPng(section, width, appearance);
  } catch (...) {
    return std::nullopt;
  }
}

std::string SettingsController::imageUrl(std::string_view key) {
  return "/image/" + std::string(key) + ".png";
}

std::string SettingsController::footerUrl(std::size_t section, std::uint64_t version) {
  return "/footer/" + std::to_string(section) + ".png?v=" + std::to_string(version);
}

bool SettingsController::isValidImageKey(std::string_view key) {
  if (key.empty() || key.size() > 128) return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

}  // namespace settingsapp

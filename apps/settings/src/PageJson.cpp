#include "PageJson.h"

#include "platform/foundation/Utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace settingsapp {
namespace {

void appendEscaped(std::string& out, std::string_view valid) {
  static constexpr char kHex[] = "0123456789abcdef";
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

// Everything a row's JSON carries.
bool sameRow(const SettingsRow& a, const SettingsRow& b) {
  return a.kind == b.kind && a.title == b.title && a.detail == b.detail &&
         a.identifier == b.identifier && a.imageKey == b.imageKey && a.isOn == b.isOn &&
         a.enabled == b.enabled && a.accessory == b.accessory;
}

// A footer view's height as sent: the height it asked for; 0 for an automatic one.
double footerHeight(const SettingsSection& section) {
  return section.footerHeight > 0 ? section.footerHeight : 0;
}

// Everything a section's texts and footer view carry, and whether it has a footer view.
bool sameSectionTexts(const SettingsSection& a, const SettingsSection& b) {
  return a.header == b.header && a.footer == b.footer &&
         (a.footerView != nullptr) == (b.footerView != nullptr) &&
         footerHeight(a) == footerHeight(b) && a.footerViewText == b.footerViewText;
}

// Another page, not a change of the page shown: the browser needs the whole page.
bool anotherPage(const SettingsPage& a, const SettingsPage& b) {
  return a.title != b.title || a.backTitle != b.backTitle || a.canGoBack != b.canGoBack ||
         a.depth != b.depth || a.isError != b.isError || a.error != b.error ||
         a.sections.size() != b.sections.size();
}

void appendFooterImage(std::string& out, const SettingsSection& section, std::size_t index,
                       std::uint64_t version) {
  if (!section.footerView) {
    out += "null";
    return;
  }
  out += "{\"url\":";
  appendJsonString(out, footerUrl(index, version));
  out += ",\"height\":";
  appendNumber(out, footerHeight(section));
  out += ",\"alt\":";
  appendJsonString(out, section.footerViewText);
  out += '}';
}

void appendRow(std::string& out, const SettingsRow& row) {
  out += "{\"title\":";
  appendJsonString(out, row.title);
  if (!row.identifier.empty()) {
    out += ",\"id\":";
    appendJsonString(out, row.identifier);
  }
  out += ",\"value\":";
  appendJsonString(out, row.detail);
  out += ",\"icon\":";
  if (row.imageKey.empty()) {
    out += "null";
  } else {
    appendJsonString(out, imageUrl(row.imageKey));
  }
  out += ",\"kind\":\"";
  out += platform::settingsRowKindName(row.kind);
  out += "\",\"accessory\":\"";
  out += platform::settingsAccessoryName(row.accessory);
  out += "\",\"on\":";
  out += row.isOn ? "true" : "false";
  out += ",\"enabled\":";
  out += row.enabled ? "true" : "false";
  out += ",\"searchable\":";
  out += row.kind == SettingsRowKind::Plain ? "true" : "false";
  out += '}';
}

// "header":...,"footer":...,"footerImage":...
void appendSectionFields(std::string& out, const SettingsSection& section, std::size_t index,
                         std::uint64_t version) {
  out += "\"header\":";
  appendJsonString(out, section.header.value_or(""));
  out += ",\"footer\":";
  appendJsonString(out, section.footer.value_or(""));
  out += ",\"footerImage\":";
  appendFooterImage(out, section, index, version);
}

// A run of rows that changed: oldCount rows from oldAt gave way to newCount rows from newAt.
struct Hunk {
  std::size_t oldAt = 0;
  std::size_t oldCount = 0;
  std::size_t newAt = 0;
  std::size_t newCount = 0;
};

// Past this many inserted and removed rows in one section, the changed stretch is sent whole
// instead of searched for the shortest edit: the search costs time and memory in proportion
// to it, and so many changes are as large as the stretch anyway.
constexpr long kMaxEdits = 256;

// The shortest edit between two row lists (Myers' greedy search), as hunks in ascending
// order, after the common head and tail are set aside.
std::vector<Hunk> rowHunks(const std::vector<SettingsRow>& a, const std::vector<SettingsRow>& b) {
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && sameRow(a[head], b[head])) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         sameRow(a[a.size() - 1 - tail], b[b.size() - 1 - tail])) {
    ++tail;
  }
  const long n = static_cast<long>(a.size() - head - tail);
  const long m = static_cast<long>(b.size() - head - tail);
  if (n == 0 && m == 0) return {};
  if (n == 0 || m == 0 || n + m > 64 * 1024) {
    return {{head, static_cast<std::size_t>(n), head, static_cast<std::size_t>(m)}};
  }
  auto same = [&](long x, long y) {
    return sameRow(a[head + static_cast<std::size_t>(x)], b[head + static_cast<std::size_t>(y)]);
  };
  const long limit = std::min(n + m, kMaxEdits);
  const long offset = limit + 1;
  std::vector<long> v(static_cast<std::size_t>(2 * limit + 3), 0);
  auto at = [&](std::vector<long>& row, long k) -> long& {
    return row[static_cast<std::size_t>(k + offset)];
  };
  std::vector<std::vector<long>> trace;
  long found = -1;
  for (long d = 0; d <= limit && found < 0; ++d) {
    trace.push_back(v);
    for (long k = -d; k <= d; k += 2) {
      long x =
          (k == -d || (k != d && at(v, k - 1) < at(v, k + 1))) ? at(v, k + 1) : at(v, k - 1) + 1;
      long y = x - k;
      while (x < n && y < m && same(x, y)) ++x, ++y;
      at(v, k) = x;
      if (x >= n && y >= m) {
        found = d;
        break;
      }
    }
  }
  if (found < 0) {
    return {{head, static_cast<std::size_t>(n), head, static_cast<std::size_t>(m)}};
  }
  // Walk back from the end, one edit per step: a removal of a[x] or an insertion of b[y]
  // before a[x].
  struct Edit {
    long x;
    long y;
    bool insert;
  };
  std::vector<Edit> edits;
  long x = n;
  long y = m;
  for (long d = found; d > 0; --d) {
    std::vector<long>& before = trace[static_cast<std::size_t>(d)];
    const long k = x - y;
    const bool insert = k == -d || (k != d && at(before, k - 1) < at(before, k + 1));
    const long previousK = insert ? k + 1 : k - 1;
    const long previousX = at(before, previousK);
    const long previousY = previousX - previousK;
    edits.push_back({previousX, previousY, insert});
    x = previousX;
    y = previousY;
  }
  std::reverse(edits.begin(), edits.end());
  std::vector<Hunk> hunks;
  for (const Edit& edit : edits) {
    const auto ex = static_cast<std::size_t>(edit.x) + head;
    const auto ey = static_cast<std::size_t>(edit.y) + head;
    if (hunks.empty() || hunks.back().oldAt + hunks.back().oldCount != ex ||
        hunks.back().newAt + hunks.back().newCount != ey) {
      hunks.push_back({ex, 0, ey, 0});
    }
    ++(edit.insert ? hunks.back().newCount : hunks.back().oldCount);
  }
  return hunks;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  // Plain ASCII, the usual case, needs no checked copy.
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    appendEscaped(out, text);
  } else {
    appendEscaped(out, platform::toValidUtf8(text));
  }
}

std::string pageToJson(const SettingsPage& page, std::uint64_t version, std::size_t firstRows) {
  std::string out;
  appendPageJson(out, page, version, firstRows);
  return out;
}

void appendRowsJson(std::string& out, const SettingsSection& section, std::size_t from,
                    std::size_t count) {
  out += '[';
  const std::size_t end =
      from < section.rows.size() ? from + std::min(count, section.rows.size() - from) : from;
  for (std::size_t r = from; r < end; ++r) {
    if (r > from) out += ',';
    appendRow(out, section.rows[r]);
  }
  out += ']';
}

void appendPageJson(std::string& out, const SettingsPage& page, std::uint64_t version,
                    std::size_t firstRows) {
  std::size_t rows = 0;
  for (const SettingsSection& section : page.sections) rows += section.rows.size();
  out.reserve(out.size() + 256 + page.sections.size() * 64 + std::min(rows, firstRows) * 160);
  out += "{\"title\":";
  appendJsonString(out, page.title);
  out += ",\"backTitle\":";
  appendJsonString(out, page.backTitle);
  out += ",\"canGoBack\":";
  out += page.canGoBack ? "true" : "false";
  out += ",\"depth\":" + std::to_string(page.depth);
  out += ",\"error\":";
  if (page.isError) {
    appendJsonString(out, page.error);
  } else {
    out += "null";
  }
  out += ",\"sections\":[";
  for (std::size_t s = 0; s < page.sections.size(); ++s) {
    const SettingsSection& section = page.sections[s];
    if (s > 0) out += ',';
    out += '{';
    appendSectionFields(out, section, s, version);
    out += ",\"count\":" + std::to_string(section.rowCount()) + ",\"rows\":";
    const std::size_t sent = std::min(firstRows, section.rows.size());
    appendRowsJson(out, section, 0, sent);
    firstRows -= sent;
    out += '}';
  }
  out += "]}";
}

bool samePage(const SettingsPage& a, const SettingsPage& b) {
  return !anotherPage(a, b);
}

bool showsSame(const SettingsPage& a, const SettingsPage& b) {
  if (anotherPage(a, b) || !a.isComplete() || !b.isComplete()) return false;
  for (std::size_t s = 0; s < a.sections.size(); ++s) {
    const SettingsSection& x = a.sections[s];
    const SettingsSection& y = b.sections[s];
    if (!sameSectionTexts(x, y) || x.rows.size() != y.rows.size() ||
        !std::equal(x.rows.begin(), x.rows.end(), y.rows.begin(), sameRow)) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> pageChangesJson(const SettingsPage& before, const SettingsPage& after,
                                           std::uint64_t version) {
  if (anotherPage(before, after) || !before.isComplete() || !after.isComplete()) {
    return std::nullopt;
  }
  std::string out;
  auto next = [&out] {
    if (!out.empty()) out += ',';
  };
  for (std::size_t s = 0; s < after.sections.size(); ++s) {
    const SettingsSection& old = before.sections[s];
    const SettingsSection& now = after.sections[s];
    if (now.footerView || !sameSectionTexts(old, now)) {
      next();
      out += "{\"section\":" + std::to_string(s) + ',';
      appendSectionFields(out, now, s, version);
      out += '}';
    }
    for (const Hunk& hunk : rowHunks(old.rows, now.rows)) {
      next();
      out += "{\"section\":" + std::to_string(s) + ",\"at\":" + std::to_string(hunk.newAt) +
             ",\"remove\":" + std::to_string(hunk.oldCount) + ",\"rows\":[";
      for (std::size_t r = 0; r < hunk.newCount; ++r) {
        if (r > 0) out += ',';
        appendRow(out, now.rows[hunk.newAt + r]);
      }
      out += "]}";
    }
  }
  return out;
}

std::string imageUrl(std::string_view key) {
  return "/image/" + std::string(key) + ".png";
}

std::string imageKeyOfUrl(std::string_view url) {
  constexpr std::string_view kPrefix = "/image/";
  constexpr std::string_view kSuffix = ".png";
  if (url.size() <= kPrefix.size() + kSuffix.size() || !url.starts_with(kPrefix) ||
      !url.ends_with(kSuffix)) {
    return {};
  }
  return std::string(url.substr(kPrefix.size(), url.size() - kPrefix.size() - kSuffix.size()));
}

std::string footerUrl(std::size_t section, std::uint64_t version) {
  return "/footer/" + std::to_string(section) + ".png?v=" + std::to_string(version);
}

}  // namespace settingsapp

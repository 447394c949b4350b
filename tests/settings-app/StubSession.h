// A Settings session over pages held in memory, for tests of the protocol and the server.
// Selecting a link pushes a page named after the row; every operation is recorded.
#pragma once

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SettingsSession.h"
#include "platform/foundation/Json.h"
#include "platform/ui/UIView.h"

namespace settingsapp::testing {

// A message the server wrote, as a value; a test fails on one that is not JSON.
inline platform::Value parse(const std::string& text) {
  auto value = platform::parseJson(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(platform::Value());
}

// A row as the driver would read it; `name` is its identifier ("" for a plain row).
inline SettingsRow makeRow(SettingsRowKind kind, std::string title, std::string name = {},
                           std::string detail = {}) {
  SettingsRow row;
  row.kind = kind;
  row.title = std::move(title);
  row.identifier = std::move(name);
  row.detail = std::move(detail);
  if (kind == SettingsRowKind::Link || kind == SettingsRowKind::LinkList ||
      kind == SettingsRowKind::Plain) {
    row.accessory = SettingsAccessory::Disclosure;
  }
  return row;
}

// An application row of a list the page builds: plain, named by its title and icon.
inline SettingsRow appRow(const std::string& title) {
  SettingsRow row = makeRow(SettingsRowKind::Plain, title);
  row.imageKey = "icon-" + title;
  return row;
}

inline SettingsPage samplePage() {
  SettingsPage page;
  page.title = "Halvex";
  page.depth = 1;
  page.canGoBack = true;
  page.backTitle = "Settings";
  SettingsSection global;
  global.header = "Global";
  global.rows.push_back(makeRow(SettingsRowKind::Link, "Appearance", "appearance"));
  global.rows.push_back(makeRow(SettingsRowKind::Switch, "Enabled", "enabled"));
  global.rows.back().isOn = true;
  global.rows.push_back(makeRow(SettingsRowKind::Switch, "Locked", "locked"));
  global.rows.back().enabled = false;
  global.rows.push_back(makeRow(SettingsRowKind::Button, "Disable All", "disableAll"));
  SettingsSection apps;
  apps.header = "Enabled Applications";
  apps.footer = "Applications listed here keep running.";
  apps.rows.push_back(appRow("Maps"));
  SettingsSection preview;
  preview.footerView = std::make_shared<UIView>();
  preview.footerHeight = 160;
  preview.footerViewText = "ACTIVE APPLICATION. Indicates an actively running application.";
  preview.rows.push_back(makeRow(SettingsRowKind::LinkList, "Behavior", "behavior", "Suspend"));
  page.sections = {global, apps, preview};
  return page;
}

class StubSession : public SettingsSession {
 public:
  StubSession() {
    SettingsPage entries;
    entries.title = "Settings";
    SettingsSection list;
    list.rows.push_back(makeRow(SettingsRowKind::Link, "Halvex", "Halvex"));
    entries.sections.push_back(list);
    stack = {entries, samplePage()};
  }

  SettingsPage currentPage(std::size_t firstRows = SIZE_MAX) override {
    if (throwOnPage) throw std::runtime_error("page unavailable");
    SettingsPage page = stack.back();
    for (SettingsSection& section : page.sections) {
      const std::size_t read = std::min(firstRows, section.rows.size());
      firstRows -= read;
      section.unreadRows = section.rows.size() - read;
      section.rows.resize(read);
    }
    return page;
  }
  std::vector<SettingsRow> pageRows(std::size_t section, std::size_t from,
                                    std::size_t count) override {
    calls.push_back("rows " + std::to_string(section) + " " + std::to_string(from));
    const std::vector<SettingsRow>& rows = stack.back().sections.at(section).rows;
    from = std::min(from, rows.size());
    const auto begin = rows.begin() + static_cast<std::ptrdiff_t>(from);
    return {begin, begin + static_cast<std::ptrdiff_t>(std::min(count, rows.size() - from))};
  }
  std::uint64_t changeCount() override { return count; }

  Outcome selectRow(std::size_t section, std::size_t row) override {
    calls.push_back("select " + std::to_string(section) + " " + std::to_string(row));
    if (throwOnAction) throw std::logic_error("assertion failed in the page");
    if (refuseWith) return refuseWith;
    const SettingsRow& target = stack.back().sections[section].rows[row];
    if (target.kind == SettingsRowKind::Link || target.kind == SettingsRowKind::Plain) {
      SettingsPage next;
      next.title = target.title;
      next.canGoBack = true;
      next.depth = stack.back().depth + 1;
      next.backTitle = stack.back().title;
      stack.push_back(next);
    }
    return std::nullopt;
  }
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override {
    calls.push_back("switch " + std::to_string(section) + " " + std::to_string(row) + " " +
                    (on ? "on" : "off"));
    if (throwOnAction) throw std::logic_error("assertion failed in the page");
    if (refuseWith) return refuseWith;
    if (whileSwitching) whileSwitching();
    stack.back().sections[section].rows[row].isOn = on;
    return std::nullopt;
  }
  Outcome goBack() override {
    calls.push_back("back");
    if (stack.size() > 1) stack.pop_back();
    return std::nullopt;
  }
  std::optional<std::string> imagePng(std::string_view key) override {
    calls.push_back("image " + std::string(key));
    if (key == "icon-Maps") return std::string("\x89PNG icon");
    return std::nullopt;
  }
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance) override {
    calls.push_back("footer " + std::to_string(section) + " " +
                    std::to_string(static_cast<int>(width)) +
                    (appearance == Appearance::Dark ? " dark" : ""));
    return std::string("\x89PNG footer");
  }

  // Changes the page as another process would: the row moves and the count moves.
  void changeFromElsewhere() {
    auto& rows = stack.back().sections[1].rows;
    rows.push_back(appRow("Notes"));
    ++count;
  }

  std::vector<SettingsPage> stack;
  std::uint64_t count = 1;
  std::vector<std::string> calls;
  bool throwOnPage = false;
  bool throwOnAction = false;
  Outcome refuseWith;
  std::function<void()> whileSwitching;  // a switch waits on the store, say
};

}  // namespace settingsapp::testing

// A Settings session over pages held in memory, for tests of the protocol and the server.
// Selecting a link pushes a page named after the row; every operation is recorded.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SettingsSession.h"

namespace settingsapp::testing {

inline PageSnapshot samplePage() {
  PageSnapshot page;
  page.title = "Halvex";
  page.canGoBack = true;
  page.backTitle = "Settings";
  SectionSnapshot global;
  global.header = "Global";
  global.rows.push_back({"Appearance", "", "", RowKind::Link, Accessory::Disclosure, false, true});
  global.rows.push_back({"Enabled", "", "", RowKind::Switch, Accessory::None, true, true});
  global.rows.push_back({"Locked", "", "", RowKind::Switch, Accessory::None, false, false});
  global.rows.push_back({"Disable All", "", "", RowKind::Button, Accessory::None, false, true});
  SectionSnapshot apps;
  apps.header = "Enabled Applications";
  apps.footer = "Applications listed here keep running.";
  apps.rows.push_back({"Maps", "", "icon-maps", RowKind::Link, Accessory::Disclosure, false, true});
  apps.rows.back().searchable = true;
  SectionSnapshot preview;
  preview.footerView = true;
  preview.footerHeight = 160;
  preview.footerViewText = "ACTIVE APPLICATION. Indicates an actively running application.";
  preview.rows.push_back(
      {"Behavior", "Suspend", "", RowKind::LinkList, Accessory::Disclosure, false, true});
  page.sections = {global, apps, preview};
  return page;
}

class StubSession : public SettingsSession {
 public:
  StubSession() {
    PageSnapshot entries;
    entries.title = "Settings";
    SectionSnapshot list;
    list.rows.push_back({"Halvex", "", "", RowKind::Link, Accessory::Disclosure, false, true});
    entries.sections.push_back(list);
    stack = {entries, samplePage()};
  }

  PageSnapshot currentPage() override {
    if (throwOnPage) throw std::runtime_error("page unavailable");
    return stack.back();
  }
  std::uint64_t changeCount() override { return count; }

  Outcome selectRow(std::size_t section, std::size_t row) override {
    calls.push_back("select " + std::to_string(section) + " " + std::to_string(row));
    if (throwOnAction) throw std::logic_error("assertion failed in the page");
    if (refuseWith) return refuseWith;
    const RowSnapshot& target = stack.back().sections[section].rows[row];
    if (target.kind == RowKind::Link) {
      PageSnapshot next;
      next.title = target.title;
      next.canGoBack = true;
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
    stack.back().sections[section].rows[row].on = on;
    return std::nullopt;
  }
  Outcome goBack() override {
    calls.push_back("back");
    if (stack.size() > 1) stack.pop_back();
    return std::nullopt;
  }
  std::optional<std::string> imagePng(std::string_view key) override {
    calls.push_back("image " + std::string(key));
    if (key == "icon-maps") return std::string("\x89PNG icon");
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
    rows.push_back({"Notes", "", "", RowKind::Link, Accessory::Disclosure, false, true});
    ++count;
  }

  std::vector<PageSnapshot> stack;
  std::uint64_t count = 1;
  std::vector<std::string> calls;
  bool throwOnPage = false;
  bool throwOnAction = false;
  Outcome refuseWith;
  std::function<void()> whileSwitching;  // a switch waits on the store, say
};

}  // namespace settingsapp::testing

// A list page of the Settings app: a table whose sections and rows come from specifiers.
// Each group specifier starts a section; the rows after it, up to the next group, are its
// rows. The page is its table's data source and delegate; pages subclass it, override the
// callbacks they change and hand every other section to the base with the same arguments.
//
// What the base does for its own rows: switch rows read their getter and call their setter;
// link rows push their "detail" page (set up with the link's specifier, titled with its
// label); link-list rows show the current value's title and open a PSListItemsController
// (or their "detail" class); button rows call their action. Group labels are section headers;
// "footerText" is the footer, unless the group names a "footerCellClass", which is made once
// per group with initWithSpecifier: and sized with preferredHeightForWidth:.
//
// The base keeps no preference store: a row without "get"/"set" reads its "default" and has
// nothing to write to, unless the page registers "readPreferenceValue:" and
// "setPreferenceValue:specifier:" itself (see PSSpecifier).
//
// Main thread only. The page must be owned by a std::shared_ptr before its table is used.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings-host/PSSpecifier.h"
#include "platform/settings-host/PSTableCell.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

class PSListController : public UIViewController,
                         public UITableViewDataSource,
                         public UITableViewDelegate {
  HX_OBJECT_CLASS()

 public:
  PSListController() = default;
  ~PSListController() override;

  // --- Specifiers -------------------------------------------------------------------------
  // The page's specifiers. The base returns _specifiers, first setting it to an empty list
  // when it is none. Pages override it to load their plist once:
  //   if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget("Foo", this);
  //   return *_specifiers;
  // The host calls it before it asks the table anything, and every data-source call reads it.
  virtual const std::vector<PSSpecifierPtr>& specifiers();

  // Reads "<name>.plist" (and "<name>.strings") from the page's bundle folder and returns its
  // specifiers, with `target` (usually this page) as their target. The plist's "title"
  // becomes the page's title when the page has none yet: a page opened from a link keeps the
  // link's label, and one titled by its own code keeps that title.
  // A missing or malformed plist gives no specifiers; bad items are left out; each with one
  // log line (see PagePlist.h).
  std::vector<PSSpecifierPtr> loadSpecifiersFromPlistNameTarget(const std::string& name,
                                                                platform::Object* target);

  // The first specifier whose identifier() is `identifier`, or null.
  PSSpecifierPtr specifierForID(const std::string& identifier);
  // Where the specifier shows (section, row); none when it is not a row of this page.
  std::optional<NSIndexPath> indexPathForSpecifier(const PSSpecifier& specifier);
  // Reads the row of `identifier` again through its getter and redraws it. Nothing happens
  // for an unknown identifier.
  void reloadSpecifierIDAnimated(const std::string& identifier, bool animated);
  void reloadSpecifierAnimated(const PSSpecifierPtr& specifier, bool animated);
  // Reads every row again (the table's reloadData); the specifier list itself is kept.
  void reloadSpecifiers();

  // --- The page ---------------------------------------------------------------------------
  // The table, made with the view on first use (a grouped table is the page's root view).
  const UITableViewPtr& table();
  void loadView() override;
  // Loads the specifiers and reads every row again. Overrides call the base.
  void viewWillAppear(bool animated) override;
  // Called by the host each time the page becomes the top page. Overrides call the base,
  // which does nothing.
  virtual void willBecomeActive() {}

  // The specifier of the link that opened this page; null for a page nobody linked to.
  const PSSpecifierPtr& specifier() const { return specifier_; }
  // The host calls this with the link's specifier before the page shows. Overrides call
  // the base.
  virtual void setSpecifier(PSSpecifierPtr specifier);

  // The page that pushed this one, and the first page of its stack; null when none.
  std::shared_ptr<PSListController> parentController() const { return parent_.lock(); }
  void setParentController(const std::shared_ptr<PSListController>& parent) { parent_ = parent; }
  std::shared_ptr<PSListController> rootController() const;

  // The bundle folder plists load from: the one set here (the host sets it for a bundle's
  // first page), else the bundle that registered this page's class or one of its bases,
  // else the parent page's. "" when none is known.
  std::string bundlePath() const;
  void setBundlePath(std::string path) { bundlePath_ = std::move(path); }

  // Counts the host's redraws of this page's rows (reloads of the whole table or of a row,
  // and control changes), so that a driver can tell the page changed on its own.
  std::uint64_t changeCount() const;

  // --- Data source ------------------------------------------------------------------------
  std::int64_t numberOfSectionsInTableView(UITableView& tableView) override;
  std::int64_t tableViewNumberOfRowsInSection(UITableView& tableView,
                                              std::int64_t section) override;
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) override;
  // The group's label; none when it has no text label.
  std::optional<std::string> tableViewTitleForHeaderInSection(UITableView& tableView,
                                                              std::int64_t section) override;
  // The group's "footerText"; none when it has none or shows a footer view.
  std::optional<std::string> tableViewTitleForFooterInSection(UITableView& tableView,
                                                              std::int64_t section) override;
  // False: settings rows are never edited.
  bool tableViewCanEditRowAtIndexPath(UITableView& tableView,
                                      const NSIndexPath& indexPath) override;

  // --- Delegate ---------------------------------------------------------------------------
  // The group's "footerCellClass" view (made and cached on first request; null when the
  // group names none, or an unknown class, or the class fails to make it).
  std::shared_ptr<UIView> tableViewViewForFooterInSection(UITableView& tableView,
                                                          std::int64_t section) override;
  std::shared_ptr<UIView> tableViewViewForHeaderInSection(UITableView& tableView,
                                                          std::int64_t section) override;
  // The footer view's preferredHeightForWidth: at the table's width; automatic otherwise.
  double tableViewHeightForFooterInSection(UITableView& tableView, std::int64_t section) override;
  double tableViewHeightForHeaderInSection(UITableView& tableView, std::int64_t section) override;
  // The "height" property of the row's specifier when it has one; automatic otherwise.
  double tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                          const NSIndexPath& indexPath) override;
  // Acts on the row's specifier as the file comment says; a disabled row does nothing.
  void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                        const NSIndexPath& indexPath) override;

 protected:
  // The group specifier (null for rows before any group) and the rows of each section.
  struct Group {
    PSSpecifierPtr group;
    std::vector<PSSpecifierPtr> rows;
  };
  std::vector<Group> groups();
  // The group specifier of `section`, or null.
  PSSpecifierPtr groupSpecifierForSection(std::int64_t section);
  // The row specifier at `indexPath`, or null.
  PSSpecifierPtr specifierAtIndexPath(const NSIndexPath& indexPath);
  // Opens the page a link or link-list row names: makes the class, which must be a list
  // page, sets it up (title, parent, bundle, setSpecifier) and pushes it. Returns the page,
  // or null (logged) when the class is unknown or not a list page or there is no stack.
  std::shared_ptr<PSListController> pushControllerForSpecifier(const PSSpecifierPtr& specifier);
  void noteChange() { ++changeCount_; }

  std::optional<std::vector<PSSpecifierPtr>> _specifiers;

 private:
  std::shared_ptr<UIView> groupView(std::int64_t section, std::string_view classKey,
                                    std::map<PSSpecifierPtr, std::shared_ptr<UIView>>& cache);
  double groupViewHeight(UITableView& tableView, const std::shared_ptr<UIView>& view);
  void wireTable();

  UITableViewPtr table_;
  bool tableWired_ = false;
  PSSpecifierPtr specifier_;
  std::weak_ptr<PSListController> parent_;
  std::string bundlePath_;
  std::uint64_t changeCount_ = 0;
  std::map<PSSpecifierPtr, std::shared_ptr<UIView>> footerViews_;
  std::map<PSSpecifierPtr, std::shared_ptr<UIView>> headerViews_;
};

using PSListControllerPtr = std::shared_ptr<PSListController>;

// The bundle's first page: the installed applications in two sections, backgrounding enabled
// (section 1) and disabled (section 2), between the groups of "HalvexPreferences". Choosing an
// application opens its settings page; the page keeps its sections in step with that page
// (as its delegate), with the home screen ("HXApplicationSpringboardChangedBackgrounding")
// and with its own "Disable All" button. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "HXApplicationListController.h"
#include "platform/foundation/Value.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/settings-host/PSListController.h"
#include "platform/ui/UIImage.h"

class HXRootListController : public PSListController, public HXApplicationListControllerDelegate {
  HX_OBJECT_CLASS()

 public:
  HXRootListController() = default;
  // Stops observing the home screen before anything else goes.
  ~HXRootListController() override;

  // init: reads the catalogue and the backgrounding list once, splits the applications into
  // the two sections and starts observing the home screen. An application's icon is fetched
  // when its row is first drawn, once for the page's life.
  // Returns null when the page cannot be made. The page must be owned by a shared_ptr.
  static std::shared_ptr<HXRootListController> init();

  static std::string plistName() { return "HalvexPreferences"; }
  // Loads "HalvexPreferences" once and fixes the section indices (1 and 2).
  const std::vector<PSSpecifierPtr>& specifiers() override;

  // --- Table ------------------------------------------------------------------------------
  std::int64_t tableViewNumberOfRowsInSection(UITableView& tableView,
                                              std::int64_t section) override;
  std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
      UITableView& tableView, const NSIndexPath& indexPath) override;
  bool tableViewCanEditRowAtIndexPath(UITableView& tableView,
                                      const NSIndexPath& indexPath) override;
  double tableViewEstimatedHeightForRowAtIndexPath(UITableView& tableView,
                                                   const NSIndexPath& indexPath) override;
  void tableViewDidSelectRowAtIndexPath(UITableView& tableView,
                                        const NSIndexPath& indexPath) override;
  // Forgets the application page pushed last, then lets the base run.
  void viewWillAppear(bool animated) override;

  // The action of the "Disable All" button: clears the backgrounding list and, once it is
  // cleared, moves every application to the disabled section. When the list was not cleared,
  // the rows show what the store holds.
  void disableAll();

  // From an application page: stores the change in the registry, then puts the row (and the
  // page's switch) where the store has it, so a change that was not stored moves nothing.
  void controllerBackgroundingChangedForApplicationIdentifier(
      HXApplicationListController& controller, bool enabled,
      const std::string& identifier) override;
  // From the home screen: updates an open application page and moves the row; stores nothing.
  // Rows of other applications that disagree with the stored list follow it too.
  void applicationBackgroundingChanged(const platform::Notification& notification);

  void _cacheIconForIdentifier(const std::string& identifier);
  // The application's display name; none for an identifier the catalogue does not list.
  std::optional<std::string> displayNameForIdentifier(const std::string& identifier) const;
  // Moves `identifier` into the enabled (true) or disabled section at its display-name place.
  // An identifier already standing in the target section keeps a single row.
  void updateBackgroundingChangedForApplicationIdentifier(bool enabled,
                                                          const std::string& identifier);
  // Sorts in place by display name, case-insensitively and without regard to locale.
  void sortIdentifiers(std::vector<std::string>& identifiers) const;

  // --- Properties -------------------------------------------------------------------------
  const std::shared_ptr<HXApplicationListController>& applicationListController() const {
    return applicationListController_;
  }
  const std::vector<std::string>& backgroundingIdentifiers() const {
    return backgroundingIdentifiers_;
  }
  const std::vector<std::string>& notBackgroundingIdentifiers() const {
    return notBackgroundingIdentifiers_;
  }
  // { identifier -> { "identifier", "displayName" } } of the catalogue the page was made from;
  // made when first asked for, since the rows keep what they show apart.
  const platform::Value& applicationsDictionary() const;
  const std::unordered_map<std::string, UIImagePtr>& iconCache() const { return iconCache_; }
  std::int64_t enabledIndex() const { return enabledIndex_; }
  std::int64_t disabledIndex() const { return disabledIndex_; }

 private:
  bool isApplicationSection(std::int64_t section) const {
    return section >= enabledIndex_ && section <= disabledIndex_;
  }
  std::vector<std::string>& listForSection(std::int64_t section) {
    return section == enabledIndex_ ? backgroundingIdentifiers_ : notBackgroundingIdentifiers_;
  }
  void reloadTable();
  // What a row of an application shows, read once: every cell of a reload and every step of
  // a placement asks for it.
  struct ShownApplication {
    std::optional<std::string> displayName;  // none for an application the catalogue lacks
    UIImagePtr icon;
    bool iconFetched = false;
  };
  // Whether the catalogue the page was made from lists `identifier`.
  bool listed(const std::string& identifier) const;
  // The display name the rows show and sort by: "" for an application without one.
  static const std::string& nameOf(const ShownApplication& application);
  const std::string& shownName(const std::string& identifier) const;
  // The entry of `identifier` in applications_, made when missing.
  const ShownApplication* shown(const std::string& identifier);
  // Remakes the entries of a section's rows from its identifiers.
  void matchRows(std::int64_t section);
  std::vector<const ShownApplication*>& rowsForSection(std::int64_t section) {
    return section == enabledIndex_ ? backgroundingRows_ : notBackgroundingRows_;
  }
  // Moves `identifier` into its section at its display-name place, without reloading.
  void place(bool enabled, const std::string& identifier);
  // Moves every row (but `except`) whose section disagrees with the stored backgrounding
  // list to where the store has it, and tells an open application page, without reloading.
  // Returns true when a row moved.
  bool followStoredRegistry(const std::optional<std::string>& except);

  std::shared_ptr<HXApplicationListController> applicationListController_;
  std::vector<std::string> backgroundingIdentifiers_;
  std::vector<std::string> notBackgroundingIdentifiers_;
  mutable std::optional<platform::Value> applicationsDictionary_;
  // By identifier: the catalogue's applications, and those a change brought in. Entries stay where
  // they are, so the row lists below point at them.
  std::unordered_map<std::string, ShownApplication> applications_;
  // The entries of the two sections' rows, in the order of their identifier lists.
  std::vector<const ShownApplication*> backgroundingRows_;
  std::vector<const ShownApplication*> notBackgroundingRows_;
  std::unordered_map<std::string, UIImagePtr> iconCache_;
  std::int64_t enabledIndex_ = 1;
  std::int64_t disabledIndex_ = 2;
  // Declared last, so that it is released first: the observer goes before the lists do.
  platform::ObserverToken springboardObserver_;
};

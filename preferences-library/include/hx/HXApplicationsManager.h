// HXApplicationsManager lists the installed applications a user may choose from: every
// application of the workspace except those tagged "hidden" and those on the excluded list,
// in case-insensitive order of their localised names. It stores nothing and reads no settings;
// each call reads the workspace afresh. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "hx/Export.h"
#include "platform/foundation/Value.h"

namespace platform {
class ApplicationWorkspace;
}

class HX_EXPORT HXApplicationsManager {
 public:
  // A manager over the default platform's workspace, excluding "com.apple.webapp" and
  // "com.apple.webapp1".
  HXApplicationsManager();
  // A manager over `workspace`, which must outlive it; the same excluded list.
  explicit HXApplicationsManager(platform::ApplicationWorkspace& workspace);
  HXApplicationsManager(const HXApplicationsManager&) = delete;
  HXApplicationsManager& operator=(const HXApplicationsManager&) = delete;

  // The excluded-identifier list: applications never listed. Compared exactly.
  const std::vector<std::string>& blacklistedIdentifiers() const { return blacklistedIdentifiers_; }
  void setBlacklistedIdentifiers(std::vector<std::string> identifiers) {
    blacklistedIdentifiers_ = std::move(identifiers);
  }

  // A new catalogue result, owned by the caller:
  //   { "identifiers" -> array of identifiers in catalogue order,
  //     "applications" -> { identifier -> { "identifier", "displayName" } } }.
  // Catalogue order sorts the installed applications by localised name, ignoring case
  // (a missing name sorts as ""); applications whose names compare the same keep the
  // workspace's order. Applications with a tag equal to "hidden" or an excluded identifier are
  // left out. The display name is the localised name, or, when that is missing or empty, the
  // bundle folder's name without its extension. An identifier installed twice appears twice in
  // "identifiers", and "applications" holds the later one's entry. An empty workspace gives
  // an empty array and an empty dictionary.
  platform::Value allApplications() const;

  // One application of the catalogue: its identifier and display name as allApplications()
  // gives them.
  struct Application {
    std::string identifier;
    std::string displayName;
  };
  // The catalogue of allApplications() as a list in catalogue order, without building its
  // Value tree: an identifier installed twice appears twice, each with its own name.
  std::vector<Application> applications() const;

 private:
  platform::ApplicationWorkspace& workspace_;
  std::vector<std::string> blacklistedIdentifiers_;
};

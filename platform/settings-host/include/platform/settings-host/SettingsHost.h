// The list-page host as a whole: its runtime classes, which plists name by their system
// names ("PSListController", "PSListItemsController", "PSTableCell", "PSSpecifier").
#pragma once

namespace platform {

// Registers the host's classes with the shared class registry. They also register when
// the library loads; calling this again changes nothing. Main thread only.
void registerSettingsHostClasses();

}  // namespace platform

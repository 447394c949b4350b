// The look of the Settings list pages' section headers, shared by every page and footer.
// Each function returns the same shared instance on every call; callers keep a reference
// and never change it. Main thread only.
#pragma once

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

// The system font at 13 points.
UIFontPtr PreferencesTableViewHeaderFont();
// An opaque grey: red 0.43, green 0.43, blue 0.45; in the dark appearance a lighter one, red
// 0.557, green 0.557, blue 0.576 (a dynamic colour).
UIColorPtr PreferencesTableViewHeaderColor();

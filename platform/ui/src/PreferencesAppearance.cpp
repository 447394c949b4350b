#include "platform/ui/PreferencesAppearance.h"

UIFontPtr PreferencesTableViewHeaderFont() {
  static const UIFontPtr* font = new UIFontPtr(UIFont::systemFontOfSize(13));  // process lifetime
  return *font;
}

UIColorPtr PreferencesTableViewHeaderColor() {
  static const UIColorPtr* color =
      new UIColorPtr(UIColor::colorWithRedGreenBlueAlpha(0.43, 0.43, 0.45, 1));
  return *color;
}

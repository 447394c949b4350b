#include "platform/ui/PreferencesAppearance.h"

#include "platform/ui/UITraitCollection.h"

UIFontPtr PreferencesTableViewHeaderFont() {
  static const UIFontPtr* font = new UIFontPtr(UIFont::systemFontOfSize(13));  // process lifetime
  return *font;
}

UIColorPtr PreferencesTableViewHeaderColor() {
  static const UIColorPtr* color = new UIColorPtr(UIColor::colorWithDynamicProvider(
      [light = UIColor::colorWithRedGreenBlueAlpha(0.43, 0.43, 0.45, 1),
       dark = UIColor::colorWithRedGreenBlueAlpha(0.557, 0.557, 0.576, 1)](
          const UITraitCollection& traits) {
        return traits.userInterfaceStyle() == UIUserInterfaceStyleDark ? dark : light;
      }));
  return *color;
}

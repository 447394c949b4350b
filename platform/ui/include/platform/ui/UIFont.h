// Fonts as the UI model uses them: a family name and a point size, immutable and shared by
// reference. Labels measure and draw their text with Pango in this family at this size.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Object.h"

class UIFont : public platform::Object {
  HX_OBJECT_CLASS()

 public:
  // The family that stands in for the system font on this platform.
  static constexpr const char* kSystemFontFamily = "DejaVu Sans";

  // REQUIRES (not checked): `pointSize` is finite; sizes ≤ 0 draw nothing.
  UIFont(std::string familyName, double pointSize, bool bold = false)
      : familyName_(std::move(familyName)), pointSize_(pointSize), bold_(bold) {}

  static std::shared_ptr<UIFont> systemFontOfSize(double pointSize);
  static std::shared_ptr<UIFont> boldSystemFontOfSize(double pointSize);
  // The family at `pointSize`; any family name is accepted and falls back as fontconfig
  // chooses when it is not installed.
  static std::shared_ptr<UIFont> fontWithNameSize(const std::string& familyName, double pointSize);

  const std::string& familyName() const { return familyName_; }
  double pointSize() const { return pointSize_; }
  bool isBold() const { return bold_; }
  bool isEqual(const UIFont& other) const {
    return familyName_ == other.familyName_ && pointSize_ == other.pointSize_ &&
           bold_ == other.bold_;
  }

 private:
  const std::string familyName_;
  const double pointSize_;
  const bool bold_;
};

using UIFontPtr = std::shared_ptr<UIFont>;

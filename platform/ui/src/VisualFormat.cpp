#include "platform/ui/NSLayoutConstraint.h"

std::vector<std::shared_ptr<NSLayoutConstraint>> NSLayoutConstraint::constraintsWithVisualFormat(
    std::string_view format, NSLayoutFormatOptions, const platform::Value&, const ViewMap&) {
  throw NSInvalidArgumentException("Visual format is not supported yet", std::string(format), 0);
}

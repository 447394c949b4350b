#include "LayoutEngine_p.h"

#include "platform/ui/UIView.h"

namespace platform {

namespace {

void clearAndLayout(UIView& view) {
  view.layoutSubviews();
  for (auto& child : view.subviews()) clearAndLayout(*child);
}

}  // namespace

void LayoutEngine::layoutIfNeeded(UIView& root) {
  if (!root.needsLayout()) return;
  clearAndLayout(root);
}

CGSize LayoutEngine::fittingSize(UIView& root, CGSize /*target*/) {
  return root.frame().size;
}

}  // namespace platform

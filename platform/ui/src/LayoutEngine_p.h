// The layout pass of a view subtree: collects the constraints of the subtree, adds the pinned
// frames of views that translate their autoresizing masks and the intrinsic sizes of the
// others, solves them, writes the frames and runs layoutSubviews top-down. Main thread only.
#pragma once

#include "platform/ui/Geometry.h"

class UIView;

namespace platform {

class LayoutEngine {
 public:
  // UIView::layoutIfNeeded.
  static void layoutIfNeeded(UIView& root);
  // UIView::systemLayoutSizeFittingSize.
  static CGSize fittingSize(UIView& root, CGSize target);
};

}  // namespace platform

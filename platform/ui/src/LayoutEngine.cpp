#include "LayoutEngine_p.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/ui/ConstraintSolver.h"
#include "platform/ui/UIView.h"

namespace platform {

namespace {

using layout::Expression;
using layout::Relation;
using layout::Solver;
using layout::SolverError;
using layout::Term;
using layout::VariableId;

// A layout pass runs a few times at most: once, plus once more for each round of
// layoutSubviews overrides that changed what the constraints depend on (a label's wrap width).
constexpr int kMaxPasses = 6;

struct Node {
  std::shared_ptr<UIView> view;
  int parent = -1;
  VariableId x = 0, y = 0, width = 0, height = 0;
};

// One solve of a subtree: every view's frame in the coordinates of the subtree's root.
class SubtreeLayout {
 public:
  explicit SubtreeLayout(UIView& root) { collect(root.sharedAs<UIView>(), -1); }

  const std::vector<Node>& nodes() const { return nodes_; }
  Solver& solver() { return solver_; }

  // Pins the root's origin at 0, 0 and its size as given (`sizePriority` ≥ 1000: required).
  void pinRoot(CGSize size, double sizePriority) {
    const Node& root = nodes_.front();
    addPin(root.x, 0, layout::kRequiredPriority);
    addPin(root.y, 0, layout::kRequiredPriority);
    addPin(root.width, size.width, sizePriority);
    addPin(root.height, size.height, sizePriority);
  }

  // Pinned frames, installed constraints, then intrinsic sizes; a conflicting required one is
  // logged and left out.
  void addConstraints(bool rootHasIntrinsicSize) {
    for (std::size_t i = 1; i < nodes_.size(); ++i) {
      const Node& node = nodes_[i];
      if (!node.view->translatesAutoresizingMaskIntoConstraints()) continue;
      const Node& parent = nodes_[static_cast<std::size_t>(node.parent)];
      const CGRect frame = node.view->frame();
      tryAdd(Expression{{{node.x, 1}, {parent.x, -1}}, -frame.origin.x}, Relation::Equal,
             layout::kRequiredPriority,
             [&] { return pinDescription(node, "minX", frame.origin.x); });
      tryAdd(Expression{{{node.y, 1}, {parent.y, -1}}, -frame.origin.y}, Relation::Equal,
             layout::kRequiredPriority,
             [&] { return pinDescription(node, "minY", frame.origin.y); });
      tryAdd(Expression{{{node.width, 1}}, -frame.size.width}, Relation::Equal,
             layout::kRequiredPriority,
             [&] { return pinDescription(node, "width", frame.size.width); });
      tryAdd(Expression{{{node.height, 1}}, -frame.size.height}, Relation::Equal,
             layout::kRequiredPriority,
             [&] { return pinDescription(node, "height", frame.size.height); });
    }
    for (const Node& node : nodes_) {
      for (const auto& constraint : node.view->constraints()) addInstalled(*constraint);
    }
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      const Node& node = nodes_[i];
      if (i == 0 ? !rootHasIntrinsicSize : node.view->translatesAutoresizingMaskIntoConstraints()) {
        continue;
      }
      addIntrinsic(node);
    }
  }

  double value(VariableId v) const {
    // Solutions carry rounding noise from the pivots; a frame is kept to a millionth.
    return std::round(solver_.value(v) * 1e6) / 1e6 + 0.0;
  }

 private:
  void collect(const std::shared_ptr<UIView>& view, int parent) {
    const int index = static_cast<int>(nodes_.size());
    Node node;
    node.view = view;
    node.parent = parent;
    node.x = solver_.newVariable();
    node.y = solver_.newVariable();
    node.width = solver_.newVariable();
    node.height = solver_.newVariable();
    nodes_.push_back(node);
    indices_.emplace(view.get(), index);
    for (const auto& child : view->subviews()) collect(child, index);
  }

  void addPin(VariableId v, double value, double priority) {
    tryAdd(Expression{{{v, 1}}, -value}, Relation::Equal, priority,
           [] { return std::string("<root size>"); });
  }

  template <typename Describe>
  void tryAdd(const Expression& expression, Relation relation, double priority,
              const Describe& describe) {
    try {
      solver_.addConstraint(expression, relation, priority);
    } catch (const SolverError& error) {
      if (error.kind() != SolverError::Kind::UnsatisfiableConstraint) {
        // A solver fault must not take the page down; the layout goes on without it.
        NSLog(std::string("Layout solver error: ") + error.what() + " while adding \n" +
              describe());
        return;
      }
      NSLog(
          "Unable to simultaneously satisfy constraints.\nWill attempt to recover by breaking "
          "constraint \n" +
          describe());
    }
  }

  static std::string pinDescription(const Node& node, const char* what, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " %s == %g>", what, value);
    return "<NSAutoresizingMaskLayoutConstraint " + node.view->description() + buffer;
  }

  // `attribute` of the view at `index` as an expression over its frame variables.
  void appendAttribute(Expression& e, int index, NSLayoutAttribute attribute, double scale) const {
    const Node& n = nodes_[static_cast<std::size_t>(index)];
    const UIEdgeInsets m = n.view->layoutMargins();
    auto term = [&](VariableId v, double c) { e.terms.push_back(Term{v, c * scale}); };
    switch (attribute) {
      case NSLayoutAttributeLeft:
      case NSLayoutAttributeLeading:
        term(n.x, 1);
        break;
      case NSLayoutAttributeRight:
      case NSLayoutAttributeTrailing:
        term(n.x, 1);
        term(n.width, 1);
        break;
      case NSLayoutAttributeTop:
        term(n.y, 1);
        break;
      case NSLayoutAttributeBottom:
        term(n.y, 1);
        term(n.height, 1);
        break;
      case NSLayoutAttributeWidth:
        term(n.width, 1);
        break;
      case NSLayoutAttributeHeight:
        term(n.height, 1);
        break;
      case NSLayoutAttributeCenterX:
        term(n.x, 1);
        term(n.width, 0.5);
        break;
      case NSLayoutAttributeCenterY:
        term(n.y, 1);
        term(n.height, 0.5);
        break;
      case NSLayoutAttributeFirstBaseline:
        term(n.y, 1);
        if (auto offset = n.view->firstBaselineOffsetFromTop()) {
          e.constant += *offset * scale;
        } else {
          term(n.height, 1);
        }
        break;
      case NSLayoutAttributeLastBaseline:
        term(n.y, 1);
        term(n.height, 1);
        e.constant -= n.view->lastBaselineOffsetFromBottom() * scale;
        break;
      case NSLayoutAttributeLeftMargin:
      case NSLayoutAttributeLeadingMargin:
        term(n.x, 1);
        e.constant += m.left * scale;
        break;
      case NSLayoutAttributeRightMargin:
      case NSLayoutAttributeTrailingMargin:
        term(n.x, 1);
        term(n.width, 1);
        e.constant -= m.right * scale;
        break;
      case NSLayoutAttributeTopMargin:
        term(n.y, 1);
        e.constant += m.top * scale;
        break;
      case NSLayoutAttributeBottomMargin:
        term(n.y, 1);
        term(n.height, 1);
        e.constant -= m.bottom * scale;
        break;
      case NSLayoutAttributeCenterXWithinMargins:
        term(n.x, 1);
        term(n.width, 0.5);
        e.constant += (m.left - m.right) / 2 * scale;
        break;
      case NSLayoutAttributeCenterYWithinMargins:
        term(n.y, 1);
        term(n.height, 0.5);
        e.constant += (m.top - m.bottom) / 2 * scale;
        break;
      case NSLayoutAttributeNotAnAttribute:
        break;
    }
  }

  int indexOf(const std::shared_ptr<UIView>& view) const {
    if (!view) return -1;
    auto it = indices_.find(view.get());
    return it == indices_.end() ? -1 : it->second;
  }

  void addInstalled(const NSLayoutConstraint& c) {
    const int first = indexOf(c.firstItem());
    if (first < 0) return;  // its view has gone or lies outside this subtree
    Expression e;
    appendAttribute(e, first, c.firstAttribute(), 1);
    if (c.secondAttribute() != NSLayoutAttributeNotAnAttribute) {
      const int second = indexOf(c.secondItem());
      if (second < 0) return;
      appendAttribute(e, second, c.secondAttribute(), -c.multiplier());
    }
    e.constant -= c.constant();
    const Relation relation = c.relation() == NSLayoutRelationEqual ? Relation::Equal
                              : c.relation() == NSLayoutRelationLessThanOrEqual
                                  ? Relation::LessThanOrEqual
                                  : Relation::GreaterThanOrEqual;
    tryAdd(e, relation, c.priority(), [&c] { return c.description(); });
  }

  void addIntrinsic(const Node& node) {
    const CGSize size = node.view->intrinsicContentSize();
    const struct {
      double extent;
      VariableId variable;
      UILayoutConstraintAxis axis;
      const char* name;
    } axes[] = {{size.width, node.width, UILayoutConstraintAxisHorizontal, "width"},
                {size.height, node.height, UILayoutConstraintAxisVertical, "height"}};
    for (const auto& axis : axes) {
      if (!(axis.extent >= 0) || !std::isfinite(axis.extent)) continue;
      const double hugging = node.view->contentHuggingPriorityForAxis(axis.axis);
      const double resistance = node.view->contentCompressionResistancePriorityForAxis(axis.axis);
      auto describe = [&](const char* relation) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, " %s %s %g>", axis.name, relation, axis.extent);
        return "<NSContentSizeLayoutConstraint " + node.view->description() + buffer;
      };
      tryAdd(Expression{{{axis.variable, 1}}, -axis.extent}, Relation::LessThanOrEqual, hugging,
             [&] { return describe("<="); });
      tryAdd(Expression{{{axis.variable, 1}}, -axis.extent}, Relation::GreaterThanOrEqual,
             resistance, [&] { return describe(">="); });
    }
  }

  Solver solver_;
  std::vector<Node> nodes_;
  std::unordered_map<const UIView*, int> indices_;
};

}  // namespace

void LayoutEngine::layoutIfNeeded(UIView& root) {
  // A layoutSubviews override may ask its own subtree for a layout pass. The pass that is
  // already running over it repeats while anything is marked, so the nested request is left
  // to it instead of recursing without end.
  static std::vector<const UIView*> running;
  for (const UIView* active : running) {
    if (root.isDescendantOfView(*active)) return;
  }
  running.push_back(&root);
  struct Pop {
    ~Pop() { running.pop_back(); }
  } pop;

  for (int pass = 0; pass < kMaxPasses && root.needsLayout(); ++pass) {
    SubtreeLayout layout(root);
    const auto& nodes = layout.nodes();
    for (const Node& node : nodes) node.view->needsLayout_ = false;
    layout.pinRoot(root.frame().size, layout::kRequiredPriority);
    layout.addConstraints(false);

    for (std::size_t i = 1; i < nodes.size(); ++i) {
      const Node& node = nodes[i];
      const Node& parent = nodes[static_cast<std::size_t>(node.parent)];
      node.view->applyLayoutFrame(CGRectMake(layout.value(node.x) - layout.value(parent.x),
                                             layout.value(node.y) - layout.value(parent.y),
                                             layout.value(node.width), layout.value(node.height)));
    }
    // Parents first. The list holds every view, so an override that rearranges the tree
    // cannot free a view still to be visited; the next pass sees the new tree.
    for (const Node& node : nodes) node.view->layoutSubviews();
  }
}

CGSize LayoutEngine::fittingSize(UIView& root, CGSize target) {
  SubtreeLayout layout(root);
  layout.pinRoot(target, UILayoutPriorityFittingSizeLevel);
  layout.addConstraints(true);
  const Node& node = layout.nodes().front();
  return CGSizeMake(layout.value(node.width), layout.value(node.height));
}

}  // namespace platform

// The visual format language:
//   format     := (('H'|'V') ':')? ('|' connection)? view (connection view)* (connection '|')?
//   view       := '[' name ('(' predicate (',' predicate)* ')')? ']'
//   connection := '' | '-' | '-' (simple | '(' predicate (',' predicate)* ')') '-'
//   simple     := metric | number
//   predicate  := ('==' | '<=' | '>=')? (metric | number | viewName) ('@' (metric | number))?
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

namespace {

bool isIdentifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isIdentifierChar(char c) {
  return isIdentifierStart(c) || (c >= '0' && c <= '9');
}
bool isNumberStart(char c) {
  return (c >= '0' && c <= '9') || c == '.';
}

struct Predicate {
  NSLayoutRelation relation = NSLayoutRelationEqual;
  double constant = 0;
  std::shared_ptr<UIView> view;  // a size equal to another view's, for view predicates only
  UILayoutPriority priority = UILayoutPriorityRequired;
};

struct Connection {
  enum class Kind { Touching, Standard, Explicit } kind = Kind::Touching;
  std::vector<Predicate> predicates;
};

struct Element {
  std::shared_ptr<UIView> view;  // null for a superview edge '|'
  std::vector<Predicate> predicates;
  std::size_t position = 0;
};

class VisualFormatParser {
 public:
  VisualFormatParser(std::string_view format, NSLayoutFormatOptions options,
                     const platform::Value& metrics, const NSLayoutConstraint::ViewMap& views)
      : format_(format), options_(options), metrics_(metrics), views_(views) {}

  std::vector<NSLayoutConstraintPtr> parse() {
    parseOrientation();
    checkOptions();
    std::vector<Element> elements;
    std::vector<Connection> connections;
    if (peek() == '|') {
      elements.push_back(Element{nullptr, {}, pos_++});
      connections.push_back(parseConnection());
    }
    elements.push_back(parseView());
    while (pos_ < format_.size()) {
      Connection connection = parseConnection();
      if (peek() == '|') {
        connections.push_back(std::move(connection));
        elements.push_back(Element{nullptr, {}, pos_++});
        if (pos_ < format_.size()) fail("Expected the end of the format after '|'", pos_);
        break;
      }
      if (peek() != '[') {
        fail(connection.kind == Connection::Kind::Touching ? "Expected a view or '-'"
                                                           : "Expected a view or '|'",
             pos_);
      }
      connections.push_back(std::move(connection));
      elements.push_back(parseView());
    }
    return build(elements, connections);
  }

 private:
  [[noreturn]] void fail(const std::string& reason, std::size_t position) const {
    throw NSInvalidArgumentException(reason, std::string(format_),
                                     std::min(position, format_.size()));
  }

  char peek() const { return pos_ < format_.size() ? format_[pos_] : '\0'; }

  void expect(char c, const char* reason) {
    if (peek() != c) fail(reason, pos_);
    ++pos_;
  }

  void parseOrientation() {
    const char first = peek();
    if (first != 'H' && first != 'V') return;
    vertical_ = first == 'V';
    if (pos_ + 1 >= format_.size() || format_[pos_ + 1] != ':') {
      fail(vertical_ ? "Expected ':' after 'V' to specify vertical arrangement"
                     : "Expected ':' after 'H' to specify horizontal arrangement",
           pos_ + 1);
    }
    pos_ += 2;
  }

  void checkOptions() {
    const NSLayoutFormatOptions alignment = options_ & NSLayoutFormatAlignmentMask;
    const NSLayoutFormatOptions direction = options_ & NSLayoutFormatDirectionMask;
    if (direction == NSLayoutFormatDirectionMask) {
      fail("Unknown layout direction in the options", 0);
    }
    if (options_ & ~(NSLayoutFormatAlignmentMask | NSLayoutFormatDirectionMask)) {
      fail("Unknown bits in the options", 0);
    }
    rightToLeft_ = !vertical_ && direction == NSLayoutFormatDirectionRightToLeft;
    leftToRight_ = !vertical_ && direction == NSLayoutFormatDirectionLeftToRight;
    for (int bit = 0; bit < 16; ++bit) {
      if (!(alignment & (NSLayoutFormatOptions{1} << bit))) continue;
      const auto attribute = static_cast<NSLayoutAttribute>(bit);
      bool horizontalEdge = false;  // an edge or centre that lies across a horizontal row
      switch (attribute) {
        case NSLayoutAttributeTop:
        case NSLayoutAttributeBottom:
        case NSLayoutAttributeCenterY:
        case NSLayoutAttributeLastBaseline:
        case NSLayoutAttributeFirstBaseline:
          horizontalEdge = true;
          break;
        case NSLayoutAttributeLeft:
        case NSLayoutAttributeRight:
        case NSLayoutAttributeLeading:
        case NSLayoutAttributeTrailing:
        case NSLayoutAttributeCenterX:
          break;
        default:
          fail("Unknown alignment option in the options", 0);
      }
      if (!vertical_ && !horizontalEdge) {
        fail(
            "Options mask required views to be aligned on a vertical edge, which is not "
            "allowed for layout that is also horizontal.",
            0);
      }
      if (vertical_ && horizontalEdge) {
        fail(
            "Options mask required views to be aligned on a horizontal edge, which is not "
            "allowed for layout that is also vertical.",
            0);
      }
      alignments_.push_back(attribute);
    }
  }

  std::string_view parseIdentifier() {
    const std::size_t start = pos_;
    if (!isIdentifierStart(peek())) return {};
    while (pos_ < format_.size() && isIdentifierChar(format_[pos_])) ++pos_;
    return format_.substr(start, pos_ - start);
  }

  std::optional<double> parseNumber() {
    const char* begin = format_.data() + pos_;
    const char* end = format_.data() + format_.size();
    double value = 0;
    auto [next, error] = std::from_chars(begin, end, value, std::chars_format::general);
    if (error != std::errc() || next == begin) return std::nullopt;
    if (!std::isfinite(value)) fail("Expected a finite number", pos_);
    pos_ += static_cast<std::size_t>(next - begin);
    return value;
  }

  double metricValue(std::string_view name, std::size_t position) const {
    const platform::Value none;
    const platform::Value& metric = metrics_.isDictionary() ? metrics_[name] : none;
    if (metric.isNone()) fail("Unable to find metric with name: " + std::string(name), position);
    auto number = metric.isNumber() ? metric.doubleValue() : std::nullopt;
    if (!number || !std::isfinite(*number)) {
      fail("Metric " + std::string(name) + " is not a finite number", position);
    }
    return *number;
  }

  bool isMetric(std::string_view name) const {
    return metrics_.isDictionary() && !metrics_[name].isNone();
  }

  // A number or a metric name, with an optional sign when `signAllowed`.
  double parseConstant(bool signAllowed) {
    const std::size_t start = pos_;
    if (isIdentifierStart(peek())) {
      const std::string_view name = parseIdentifier();
      return metricValue(name, start);
    }
    if (isNumberStart(peek()) || (signAllowed && (peek() == '-' || peek() == '+'))) {
      double sign = 1;
      if (peek() == '-' || peek() == '+') {
        sign = peek() == '-' ? -1 : 1;
        ++pos_;
      }
      if (isNumberStart(peek())) {
        if (auto number = parseNumber()) return sign * *number;
      }
    }
    fail("Expected a number or a metric name", start);
  }

  Predicate parsePredicate(bool viewAllowed) {
    Predicate predicate;
    const std::size_t start = pos_;
    const char c = peek();
    if (c == '=' || c == '<' || c == '>') {
      if (pos_ + 1 >= format_.size() || format_[pos_ + 1] != '=') {
        fail("Unknown relation. Must be ==, >=, or <=", start);
      }
      predicate.relation = c == '='   ? NSLayoutRelationEqual
                           : c == '<' ? NSLayoutRelationLessThanOrEqual
                                      : NSLayoutRelationGreaterThanOrEqual;
      pos_ += 2;
    }
    const std::size_t objectStart = pos_;
    if (isIdentifierStart(peek())) {
      const std::string_view name = parseIdentifier();
      if (isMetric(name)) {
        predicate.constant = metricValue(name, objectStart);
      } else if (auto it = views_.find(name); it != views_.end() && it->second) {
        if (!viewAllowed) {
          fail("A spacing predicate cannot refer to a view (" + std::string(name) + ")",
               objectStart);
        }
        predicate.view = it->second;
      } else {
        fail((viewAllowed ? "Unable to find metric or view with name: "
                          : "Unable to find metric with name: ") +
                 std::string(name),
             objectStart);
      }
    } else {
      predicate.constant = parseConstant(true);
    }
    if (peek() == '@') {
      ++pos_;
      const std::size_t priorityStart = pos_;
      const double priority = parseConstant(false);
      if (!(priority > 0 && priority <= UILayoutPriorityRequired)) {
        fail("Priority must be greater than 0 and at most 1000", priorityStart);
      }
      predicate.priority = static_cast<UILayoutPriority>(priority);
    }
    return predicate;
  }

  std::vector<Predicate> parsePredicateList(bool viewAllowed) {
    std::vector<Predicate> list;
    expect('(', "Expected '('");
    for (;;) {
      list.push_back(parsePredicate(viewAllowed));
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      expect(')', "Expected ',' or ')' in the predicate list");
      return list;
    }
  }

  Connection parseConnection() {
    Connection connection;
    if (peek() != '-') return connection;
    ++pos_;
    if (peek() == '[' || peek() == '|') {
      connection.kind = Connection::Kind::Standard;
      return connection;
    }
    if (pos_ == format_.size()) fail("Expected a view or '|'", pos_);
    connection.kind = Connection::Kind::Explicit;
    if (peek() == '(') {
      connection.predicates = parsePredicateList(false);
    } else {
      Predicate simple;
      simple.constant = parseConstant(false);
      connection.predicates.push_back(simple);
    }
    expect('-', "Expected '-' after a spacing predicate");
    return connection;
  }

  Element parseView() {
    expect('[', "Expected a view");
    Element element;
    element.position = pos_;
    const std::string_view name = parseIdentifier();
    if (name.empty()) fail("Expected a view name", pos_);
    auto it = views_.find(name);
    if (it == views_.end() || !it->second) {
      fail("Unable to find view with name: " + std::string(name), element.position);
    }
    element.view = it->second;
    if (peek() == '(') element.predicates = parsePredicateList(true);
    expect(']', "Expected ']' to end the view");
    return element;
  }

  NSLayoutAttribute startAttribute(bool margin) const {
    if (vertical_) return margin ? NSLayoutAttributeTopMargin : NSLayoutAttributeTop;
    if (rightToLeft_) return margin ? NSLayoutAttributeRightMargin : NSLayoutAttributeRight;
    if (leftToRight_) return margin ? NSLayoutAttributeLeftMargin : NSLayoutAttributeLeft;
    return margin ? NSLayoutAttributeLeadingMargin : NSLayoutAttributeLeading;
  }

  NSLayoutAttribute endAttribute(bool margin) const {
    if (vertical_) return margin ? NSLayoutAttributeBottomMargin : NSLayoutAttributeBottom;
    if (rightToLeft_) return margin ? NSLayoutAttributeLeftMargin : NSLayoutAttributeLeft;
    if (leftToRight_) return margin ? NSLayoutAttributeRightMargin : NSLayoutAttributeRight;
    return margin ? NSLayoutAttributeTrailingMargin : NSLayoutAttributeTrailing;
  }

  std::shared_ptr<UIView> superviewFor(const Element& neighbour, std::size_t position) const {
    auto superview = neighbour.view->superview();
    if (!superview) {
      fail(
          "Unable to interpret '|' character, because the related view doesn't have a "
          "superview",
          position);
    }
    return superview;
  }

  std::vector<NSLayoutConstraintPtr> build(const std::vector<Element>& elements,
                                           const std::vector<Connection>& connections) {
    std::vector<NSLayoutConstraintPtr> out;
    auto add = [&out](const std::shared_ptr<UIView>& a, NSLayoutAttribute aa,
                      NSLayoutRelation relation, const std::shared_ptr<UIView>& b,
                      NSLayoutAttribute ba, double constant, UILayoutPriority priority) {
      auto c = std::make_shared<NSLayoutConstraint>(a, aa, relation, b, ba, 1.0, constant);
      c->setPriority(priority);
      out.push_back(std::move(c));
    };
    const NSLayoutAttribute size = vertical_ ? NSLayoutAttributeHeight : NSLayoutAttributeWidth;
    auto addViewPredicates = [&](const Element& element) {
      for (const Predicate& p : element.predicates) {
        add(element.view, size, p.relation, p.view, p.view ? size : NSLayoutAttributeNotAnAttribute,
            p.view ? 0 : p.constant, p.priority);
      }
    };

    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (elements[i].view) addViewPredicates(elements[i]);
      if (i + 1 == elements.size()) break;
      const Element& prev = elements[i];
      const Element& next = elements[i + 1];
      const Connection& connection = connections[i];
      const bool toSuperview = !prev.view || !next.view;
      const bool margin = toSuperview && connection.kind == Connection::Kind::Standard;

      std::shared_ptr<UIView> prevView = prev.view;
      NSLayoutAttribute prevAttribute = endAttribute(false);
      if (!prevView) {
        prevView = superviewFor(next, prev.position);
        prevAttribute = startAttribute(margin);
      }
      std::shared_ptr<UIView> nextView = next.view;
      NSLayoutAttribute nextAttribute = startAttribute(false);
      if (!nextView) {
        nextView = superviewFor(prev, next.position);
        nextAttribute = endAttribute(margin);
      }

      std::vector<Predicate> gaps = connection.predicates;
      if (connection.kind != Connection::Kind::Explicit) {
        Predicate gap;
        gap.constant = connection.kind == Connection::Kind::Standard && !toSuperview
                           ? kLayoutStandardSpacing
                           : 0;
        gaps.push_back(gap);
      }
      for (const Predicate& gap : gaps) {
        // Leading to trailing: next.start REL prev.end + gap. Right to left the row runs the
        // other way, so the same gap reads prev.end REL next.start + gap.
        if (rightToLeft_) {
          add(prevView, prevAttribute, gap.relation, nextView, nextAttribute, gap.constant,
              gap.priority);
        } else {
          add(nextView, nextAttribute, gap.relation, prevView, prevAttribute, gap.constant,
              gap.priority);
        }
      }
    }

    for (NSLayoutAttribute attribute : alignments_) {
      const Element* previous = nullptr;
      for (const Element& element : elements) {
        if (!element.view) continue;
        if (previous) {
          add(previous->view, attribute, NSLayoutRelationEqual, element.view, attribute, 0,
              UILayoutPriorityRequired);
        }
        previous = &element;
      }
    }
    return out;
  }

  const std::string_view format_;
  const NSLayoutFormatOptions options_;
  const platform::Value& metrics_;
  const NSLayoutConstraint::ViewMap& views_;
  std::size_t pos_ = 0;
  bool vertical_ = false;
  bool rightToLeft_ = false;
  bool leftToRight_ = false;
  std::vector<NSLayoutAttribute> alignments_;
};

}  // namespace

std::vector<std::shared_ptr<NSLayoutConstraint>> NSLayoutConstraint::constraintsWithVisualFormat(
    std::string_view format, NSLayoutFormatOptions options, const platform::Value& metrics,
    const ViewMap& views) {
  return VisualFormatParser(format, options, metrics, views).parse();
}

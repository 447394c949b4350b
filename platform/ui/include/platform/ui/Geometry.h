// Points, sizes, rectangles and edge insets in points, as UIKit's CoreGraphics types hold
// them. Plain values; no operation allocates.
#pragma once

#include <cmath>

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  friend bool operator==(const CGRect&, const CGRect&) = default;
};

struct UIEdgeInsets {
  CGFloat top = 0;
  CGFloat left = 0;
  CGFloat bottom = 0;
  CGFloat right = 0;
  friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
};

inline constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) {
  return CGPoint{x, y};
}
inline constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) {
  return CGSize{width, height};
}
inline constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return CGRect{CGPoint{x, y}, CGSize{width, height}};
}
inline constexpr UIEdgeInsets UIEdgeInsetsMake(CGFloat top, CGFloat left, CGFloat bottom,
                                               CGFloat right) {
  return UIEdgeInsets{top, left, bottom, right};
}
inline constexpr CGRect CGRectZero{};
inline constexpr CGSize CGSizeZero{};

inline constexpr CGFloat CGRectGetMinX(const CGRect& r) {
  return r.origin.x;
}
inline constexpr CGFloat CGRectGetMinY(const CGRect& r) {
  return r.origin.y;
}
inline constexpr CGFloat CGRectGetMaxX(const CGRect& r) {
  return r.origin.x + r.size.width;
}
inline constexpr CGFloat CGRectGetMaxY(const CGRect& r) {
  return r.origin.y + r.size.height;
}
inline constexpr CGFloat CGRectGetMidX(const CGRect& r) {
  return r.origin.x + r.size.width / 2;
}
inline constexpr CGFloat CGRectGetMidY(const CGRect& r) {
  return r.origin.y + r.size.height / 2;
}
inline constexpr CGFloat CGRectGetWidth(const CGRect& r) {
  return r.size.width;
}
inline constexpr CGFloat CGRectGetHeight(const CGRect& r) {
  return r.size.height;
}

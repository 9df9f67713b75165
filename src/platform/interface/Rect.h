// Points and rectangles of the interface kit. A BRect includes its right and
// bottom edges: BRect(0, 0, 319, 239) covers 320 by 240 pixels.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cmath>

class BPoint
{
public:
    float x = 0;
    float y = 0;

    BPoint() = default;
    BPoint(float px, float py) : x(px), y(py) {}
    bool operator==(const BPoint& other) const = default;
};

class BRect
{
public:
    float left = 0;
    float top = 0;
    float right = -1;
    float bottom = -1;

    BRect() = default;
    BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}

    float Width() const { return right - left; }
    float Height() const { return bottom - top; }
    int32 IntegerWidth() const { return int32(std::ceil(right - left)); }
    int32 IntegerHeight() const { return int32(std::ceil(bottom - top)); }
    bool IsValid() const { return left <= right && top <= bottom; }
    BPoint LeftTop() const { return BPoint(left, top); }

    void OffsetBy(float dx, float dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void OffsetTo(float x, float y) { OffsetBy(x - left, y - top); }
    void InsetBy(float dx, float dy)
    {
        left += dx;
        right -= dx;
        top += dy;
        bottom -= dy;
    }
    bool Contains(BPoint point) const
    {
        return point.x >= left && point.x <= right && point.y >= top && point.y <= bottom;
    }
    // The common part; not valid when the two do not meet.
    BRect operator&(const BRect& other) const
    {
        return BRect(std::fmax(left, other.left), std::fmax(top, other.top),
                     std::fmin(right, other.right), std::fmin(bottom, other.bottom));
    }
    bool operator==(const BRect& other) const = default;
};

#pragma once
// Window layouts are given in layout units: at 96 dpi a pixel is about 4.57 units across
// and 4 units down.
#include <QRect>
#include <cmath>

inline constexpr double units_per_px_x = 4.57;
inline constexpr double units_per_px_y = 4.0;

inline int units_to_px_x(double units) {
    return static_cast<int>(std::lround(units / units_per_px_x));
}
inline int units_to_px_y(double units) {
    return static_cast<int>(std::lround(units / units_per_px_y));
}
inline int px_to_units_x(int px) {
    return static_cast<int>(std::lround(px * units_per_px_x));
}
inline int px_to_units_y(int px) {
    return static_cast<int>(std::lround(px * units_per_px_y));
}
inline QRect units_to_px(int x, int y, int width, int height) {
    return {units_to_px_x(x), units_to_px_y(y), units_to_px_x(width), units_to_px_y(height)};
}

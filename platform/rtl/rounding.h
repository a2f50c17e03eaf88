#pragma once
// Rounding as the framework does it: Round takes halves to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2); Trunc drops the fraction.
#include <cmath>
#include <cstdint>

inline int64_t Round(double x) { return static_cast<int64_t>(std::nearbyint(x)); }
inline int64_t Trunc(double x) { return static_cast<int64_t>(std::trunc(x)); }
template <class T> constexpr T Min(T a, T b) { return b < a ? b : a; }
template <class T> constexpr T Max(T a, T b) { return a < b ? b : a; }

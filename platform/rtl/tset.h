#pragma once
// A Pascal-style set over an enumeration: at most 256 members, as the framework's
// sets allow. TSet<TFontStyle>{fsBold, fsItalic} reads like Pascal's [fsBold, fsItalic].
#include <array>
#include <bit>
#include <cstdint>
#include <initializer_list>

template <class E> class TSet {
public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E e : members) Include(e);
  }

  constexpr TSet& Include(E e) {
    unsigned i = Slot(e);
    FBits[i >> 6] |= uint64_t(1) << (i & 63);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    unsigned i = Slot(e);
    FBits[i >> 6] &= ~(uint64_t(1) << (i & 63));
    return *this;
  }
  constexpr bool Contains(E e) const {
    unsigned i = Slot(e);
    return (FBits[i >> 6] >> (i & 63)) & 1;
  }
  constexpr bool Empty() const { return (FBits[0] | FBits[1] | FBits[2] | FBits[3]) == 0; }
  constexpr int Count() const {
    int n = 0;
    for (uint64_t w : FBits) n += std::popcount(w);
    return n;
  }
  constexpr void Clear() { FBits = {}; }

  // Union, difference and intersection, as Pascal's +, - and *.
  constexpr TSet operator+(const TSet& o) const { return Combine(o, [](uint64_t a, uint64_t b) { return a | b; }); }
  constexpr TSet operator-(const TSet& o) const { return Combine(o, [](uint64_t a, uint64_t b) { return a & ~b; }); }
  constexpr TSet operator*(const TSet& o) const { return Combine(o, [](uint64_t a, uint64_t b) { return a & b; }); }
  constexpr TSet operator+(E e) const { return TSet(*this).Include(e); }
  constexpr TSet operator-(E e) const { return TSet(*this).Exclude(e); }
  constexpr TSet& operator+=(const TSet& o) { return *this = *this + o; }
  constexpr TSet& operator-=(const TSet& o) { return *this = *this - o; }
  constexpr TSet& operator*=(const TSet& o) { return *this = *this * o; }
  constexpr TSet& operator+=(E e) { return Include(e); }
  constexpr TSet& operator-=(E e) { return Exclude(e); }
  constexpr bool operator==(const TSet& o) const { return FBits == o.FBits; }
  // Subset and superset, as Pascal's <= and >=.
  constexpr bool operator<=(const TSet& o) const { return (*this - o).Empty(); }
  constexpr bool operator>=(const TSet& o) const { return (o - *this).Empty(); }

  // The low 64 members as a bit mask, for sets stored as a word in a file or record.
  constexpr uint64_t LowBits() const { return FBits[0]; }
  static constexpr TSet FromLowBits(uint64_t bits) {
    TSet s;
    s.FBits[0] = bits;
    return s;
  }

private:
  static constexpr unsigned Slot(E e) { return static_cast<unsigned>(e) & 255u; }
  template <class F> constexpr TSet Combine(const TSet& o, F f) const {
    TSet r;
    for (int i = 0; i < 4; ++i) r.FBits[i] = f(FBits[i], o.FBits[i]);
    return r;
  }
  std::array<uint64_t, 4> FBits{};
};

#pragma once
// A fixed group of N values stored side by side, for arrays whose elements are records
// (per-channel histograms of one cell).

namespace corvath::utility {

template <typename T, int N>
struct Vec {
    T v[N];

    T& operator[](int i) { return v[i]; }
    const T& operator[](int i) const { return v[i]; }
    static constexpr int size() { return N; }
};

} // namespace corvath::utility

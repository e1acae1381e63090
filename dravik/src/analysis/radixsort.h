#pragma once
// Least-significant-digit radix sort on 64-bit keys, one byte per pass; passes in which every
// element has the same byte are skipped. Stable.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace classification::detail {

// Sorts items by the low `keyBytes` bytes of keyOf(item); scratch is resized as needed.
template <typename Vector, typename KeyOf>
void radixSort(Vector& items, Vector& scratch, int keyBytes, KeyOf keyOf)
{
    const std::size_t n = items.size();
    if (n < 2)
        return;
    std::vector<std::size_t> counts(std::size_t(keyBytes) * 256, 0);
    for (const auto& item : items) {
        const std::uint64_t k = keyOf(item);
        for (int b = 0; b < keyBytes; ++b)
            ++counts[std::size_t(b) * 256 + ((k >> (8 * b)) & 0xFF)];
    }
    scratch.resize(n);
    for (int b = 0; b < keyBytes; ++b) {
        std::size_t* count = &counts[std::size_t(b) * 256];
        bool trivial = false;
        for (int d = 0; d < 256; ++d)
            if (count[d] == n)
                trivial = true;
        if (trivial)
            continue;
        std::size_t start = 0;
        for (int d = 0; d < 256; ++d) {
            const std::size_t c = count[d];
            count[d] = start;
            start += c;
        }
        for (const auto& item : items)
            scratch[count[(keyOf(item) >> (8 * b)) & 0xFF]++] = item;
        std::swap(items, scratch);
    }
}

} // namespace classification::detail

#pragma once
// A compact open-addressing hash table from packed 64-bit keys to small values, for tables
// with millions of entries (colour histograms, region/value pair counts). Slots stay where
// they are until the next insertion that grows the table, so a slot index may stand for an
// entry while nothing is inserted.

#include "platform/memory.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace classification {

template <typename Value>
class PackedKeyTable {
public:
    // All ones never occurs as a key: keys use at most 63 bits.
    static constexpr std::uint64_t emptyKey = ~std::uint64_t(0);
    // Slot indices must fit 32 bits.
    static constexpr std::size_t maxSlots = std::size_t(1) << 31;

    struct Slot {
        std::uint64_t key;
        Value value;
    };

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t slotCount() const { return m_slots.size(); }
    bool occupied(std::size_t i) const { return m_slots[i].key != emptyKey; }
    Slot& slot(std::size_t i) { return m_slots[i]; }
    const Slot& slot(std::size_t i) const { return m_slots[i]; }

    // The slot holding key, or -1.
    std::ptrdiff_t indexOf(std::uint64_t key) const
    {
        if (m_slots.empty())
            return -1;
        for (std::size_t i = home(key);; i = (i + 1) & m_mask) {
            const std::uint64_t k = m_slots[i].key;
            if (k == key)
                return std::ptrdiff_t(i);
            if (k == emptyKey)
                return -1;
        }
    }

    // Starts loading the cache line where a lookup of key begins.
    void prefetch(std::uint64_t key) const
    {
        if (!m_slots.empty())
            __builtin_prefetch(&m_slots[home(key)]);
    }

    Value* find(std::uint64_t key)
    {
        const std::ptrdiff_t i = indexOf(key);
        return i < 0 ? nullptr : &m_slots[std::size_t(i)].value;
    }
    const Value* find(std::uint64_t key) const
    {
        const std::ptrdiff_t i = indexOf(key);
        return i < 0 ? nullptr : &m_slots[std::size_t(i)].value;
    }

    // The value of key, inserted as init when absent. The reference lasts until the next
    // insertion. Throws std::length_error when the table cannot grow further.
    Value& insert(std::uint64_t key, const Value& init) { return m_slots[insertSlot(key, init)].value; }

    // As insert, but returns the slot index of key.
    std::size_t insertSlot(std::uint64_t key, const Value& init)
    {
        if ((m_size + 1) * 4 > m_slots.size() * 3)
            grow();
        std::size_t i = home(key);
        for (;; i = (i + 1) & m_mask) {
            const std::uint64_t k = m_slots[i].key;
            if (k == key)
                return i;
            if (k == emptyKey)
                break;
        }
        m_slots[i].key = key;
        m_slots[i].value = init;
        ++m_size;
        return i;
    }

    // Makes room for n entries without further growth.
    void reserve(std::size_t n)
    {
        std::size_t want = 16;
        while (want * 3 < n * 4) {
            if (want >= maxSlots)
                throw std::length_error("list<T> too long");
            want *= 2;
        }
        if (want > m_slots.size())
            rehash(want);
    }

    // Frees every slot.
    void clear()
    {
        std::vector<Slot, platform::LargeAllocator<Slot>>().swap(m_slots);
        m_size = 0;
        m_mask = 0;
        m_shift = 64;
    }

    template <typename F>
    void forEach(F f) const
    {
        for (const Slot& s : m_slots)
            if (s.key != emptyKey)
                f(s.key, s.value);
    }

private:
    // Multiplicative mixing; the top bits index the table. Keys that differ by one in a
    // single byte land far apart.
    std::size_t home(std::uint64_t key) const
    {
        key ^= key >> 29;
        key *= 0xBF58476D1CE4E5B9ull;
        key ^= key >> 32;
        key *= 0x9E3779B97F4A7C15ull;
        return std::size_t(key >> m_shift);
    }

    void grow()
    {
        if (m_slots.size() >= maxSlots)
            throw std::length_error("list<T> too long");
        rehash(m_slots.empty() ? 16 : m_slots.size() * 2);
    }

    void rehash(std::size_t count)
    {
        std::vector<Slot, platform::LargeAllocator<Slot>> old(count, Slot{emptyKey, Value{}});
        old.swap(m_slots);
        m_mask = count - 1;
        m_shift = 64;
        for (std::size_t c = count; c > 1; c >>= 1)
            --m_shift;
        for (const Slot& s : old) {
            if (s.key == emptyKey)
                continue;
            std::size_t i = home(s.key);
            while (m_slots[i].key != emptyKey)
                i = (i + 1) & m_mask;
            m_slots[i] = s;
        }
    }

    std::vector<Slot, platform::LargeAllocator<Slot>> m_slots;
    std::size_t m_size = 0;
    std::size_t m_mask = 0;
    unsigned m_shift = 64;
};

} // namespace classification

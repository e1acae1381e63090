#include "common/packedtable.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

using Table = classification::PackedKeyTable<int>;

TEST(PackedKeyTable, AgreesWithAStandardMapThroughGrowth)
{
    Table table;
    std::unordered_map<std::uint64_t, int> reference;
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        // Clustered keys, like colours that differ by one in a channel.
        const std::uint64_t key = (rng() % 5000) << (8 * (rng() % 6));
        table.insert(key, 0) += 1;
        reference[key] += 1;
    }
    ASSERT_EQ(table.size(), reference.size());
    for (auto& [key, count] : reference) {
        const int* found = table.find(key);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, count);
    }
    std::size_t visited = 0;
    table.forEach([&](std::uint64_t key, int count) {
        EXPECT_EQ(reference.at(key), count);
        ++visited;
    });
    EXPECT_EQ(visited, reference.size());
    EXPECT_EQ(table.find(std::uint64_t(1) << 62), nullptr);
}

TEST(PackedKeyTable, IndicesStayUntilTheNextInsertionAndClearFreesAll)
{
    Table table;
    EXPECT_EQ(table.indexOf(0), -1);
    table.reserve(1000);
    const std::size_t slots = table.slotCount();
    for (std::uint64_t k = 0; k < 1000; ++k)
        table.insert(k * 977, int(k));
    EXPECT_EQ(table.slotCount(), slots) << "reserve makes room without growth";
    const std::ptrdiff_t i = table.indexOf(977 * 5);
    ASSERT_GE(i, 0);
    EXPECT_EQ(table.slot(std::size_t(i)).value, 5);
    EXPECT_EQ(table.insert(977 * 5, -1), 5) << "an existing entry keeps its value";
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.slotCount(), 0u);
    EXPECT_EQ(table.find(0), nullptr);
}

#include "common/unionfind.h"

#include <gtest/gtest.h>

using classification::UnionFind;
using classification::joinEqualLabelNeighbours;

TEST(UnionFind, FindCompressesTheWholePath)
{
    UnionFind uf{{0, 0, 1, 2, 3, 5}};
    EXPECT_EQ(uf.find(4), 0);
    EXPECT_EQ(uf.parent, (std::vector<int>{0, 0, 0, 0, 0, 5}));
    EXPECT_EQ(uf.find(5), 5);
}

TEST(UnionFind, JoinKeepsTheSmallerRoot)
{
    // Roots 0 and 2; 3 hangs under 2; the current pixel's fresh label is 4.
    UnionFind uf{{0, 0, 2, 2, 4}};
    EXPECT_TRUE(joinEqualLabelNeighbours(uf, 7, 8, 3)) << "different values: no change";
    EXPECT_EQ(uf.parent, (std::vector<int>{0, 0, 2, 2, 4}));

    // The neighbour's root 2 is smaller than the fresh label: the pixel joins it.
    joinEqualLabelNeighbours(uf, 7, 7, 3);
    EXPECT_EQ(uf.parent, (std::vector<int>{0, 0, 2, 2, 2}));
    // Now the current label is 2 and the other neighbour's root 0 is smaller: root 2 moves
    // under 0, and so does the current label.
    joinEqualLabelNeighbours(uf, 7, 7, 1);
    EXPECT_EQ(uf.parent, (std::vector<int>{0, 0, 0, 2, 0}));

    // Current label 0, neighbour root 3 larger: 3 and the neighbour's label point at 0.
    UnionFind other{{0, 1, 2, 3, 3, 0}};
    joinEqualLabelNeighbours(other, 1, 1, 4);
    EXPECT_EQ(other.parent, (std::vector<int>{0, 1, 2, 0, 0, 0}));
}

#pragma once
// The union-find of connected-region labelling over provisional labels.

#include <vector>

namespace classification {

// Provisional labels: entry i is the parent of label i, a root is its own parent, and every
// parent is smaller than its child.
struct UnionFind {
    std::vector<int> parent;

    // The root of x; every entry on the way is pointed straight at it.
    int find(int x)
    {
        int root = x;
        while (parent[root] != root)
            root = parent[root];
        while (parent[x] != root) {
            const int up = parent[x];
            parent[x] = root;
            x = up;
        }
        return root;
    }
};

// Union step of a pixel with one neighbour. The pixel's current label is the last parent
// entry. When the two values agree, the neighbour's label is pointed at its root and the two
// roots are joined: the smaller becomes the parent of the larger, and the pixel's current
// label becomes the surviving root. Always returns true.
inline bool joinEqualLabelNeighbours(UnionFind& uf, int neighbourValue, int value,
                                     int neighbourLabel)
{
    if (neighbourValue != value)
        return true;
    std::vector<int>& parent = uf.parent;
    const int root = uf.find(neighbourLabel);  // also points neighbourLabel at the root
    const int current = parent.back();
    if (root > current) {
        parent[root] = current;
        parent[neighbourLabel] = current;
    } else if (current > root) {
        parent[current] = root;
        parent.back() = root;
    }
    return true;
}

} // namespace classification

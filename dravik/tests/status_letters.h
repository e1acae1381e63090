#pragma once
// Status arrays written as rows of letters, one letter per status byte, for tests that compare
// whole small arrays.

#include "classification/classification.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testsupport {

using StatusRows = std::vector<std::string>;

// '.' 0, '1' Unassigned, 'K' Keep, 'D' Delete, 'B' Blend, 'E' and 'F' forced-edge Unassigned
// and Keep, 'P' and 'Q' protected Unassigned and Keep; '?' renders any other byte.
inline constexpr struct {
    char letter;
    unsigned char status;
} statusLetters[] = {
    {'.', 0x00}, {'1', 0x01}, {'K', 0x02}, {'D', 0x04}, {'B', 0x08},
    {'E', 0x11}, {'F', 0x12}, {'P', 0x21}, {'Q', 0x22},
};

inline unsigned char statusOf(char letter)
{
    for (const auto& l : statusLetters)
        if (l.letter == letter)
            return l.status;
    ADD_FAILURE() << "no status letter " << letter;
    return 0;
}

inline char letterOf(unsigned char status)
{
    for (const auto& l : statusLetters)
        if (l.status == status)
            return l.letter;
    return '?';
}

// Writes the rows into a, from its lower bounds on.
inline void writeRows(classification::Bytes& a, const StatusRows& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            a(a.lbound(0) + int(i), a.lbound(1) + int(j)) = statusOf(rows[i][j]);
}

inline StatusRows render(const classification::Bytes& a)
{
    StatusRows rows;
    for (int x = a.lbound(0); x <= a.ubound(0); ++x) {
        std::string r;
        for (int y = a.lbound(1); y <= a.ubound(1); ++y)
            r += letterOf(a(x, y));
        rows.push_back(r);
    }
    return rows;
}

} // namespace testsupport

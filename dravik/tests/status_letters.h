#pragma once
// Status arrays written as rows of letters, one letter per status byte, for tests that compare
// whole small arrays.

#include "session/classification.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

using StatusRows = std::vector<std::string>;

// '.' 0, '1' Unassigned, 'K' Keep, 'D' Delete, 'B' Blend, 'E' and 'F' forced-edge Unassigned
// and Keep, 'e' a forced edge of no class, 'P' and 'Q' protected Unassigned and Keep, 'p'
// protection of no class; '?' renders any other byte.
inline constexpr struct {
    char letter;
    unsigned char status;
} statusLetters[] = {
    {'.', 0x00}, {'1', 0x01}, {'K', 0x02}, {'D', 0x04}, {'B', 0x08}, {'E', 0x11},
    {'F', 0x12}, {'e', 0x10}, {'P', 0x21}, {'Q', 0x22}, {'p', 0x20},
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

// Scene arrays start away from 0 so that index mistakes show.
inline constexpr int sceneRow0 = 10, sceneCol0 = 20;

// A classification over a black image the size of its status array.
class StatusScene : public ::testing::Test {
protected:
    // rows x cols Unassigned statuses from (row0, col0).
    void makeScene(int rows, int cols, int row0 = sceneRow0, int col0 = sceneCol0)
    {
        m_status.resize(rows, cols);
        m_status.reindexSelf(blitz::TinyVector<int, 2>(row0, col0));
        m_status = 1;
        m_image.resize(m_status.shape());
        m_image.reindexSelf(m_status.lbound());
        m_image = classification::Rgba8(0, 0, 0, 255);
        m_c = std::make_unique<classification::IiClassification>(m_image);
    }
    void makeScene(const StatusRows& statuses, int row0 = sceneRow0, int col0 = sceneCol0)
    {
        makeScene(int(statuses.size()), int(statuses[0].size()), row0, col0);
        writeRows(m_status, statuses);
    }
    classification::Rect whole() const { return corvath::utility::domainOf(m_status); }

    classification::RgbaView8 m_image;
    classification::Bytes m_status;
    std::unique_ptr<classification::IiClassification> m_c;
};

} // namespace testsupport

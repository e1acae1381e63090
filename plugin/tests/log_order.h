#pragma once
// Checks on the order of texts in a log.

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Each text must appear in the log after the one before it.
inline void expectInOrder(const std::string& log, const std::vector<std::string>& texts)
{
    std::size_t at = 0;
    for (const std::string& text : texts) {
        const std::size_t found = log.find(text, at);
        if (found == std::string::npos) {
            ADD_FAILURE() << "\"" << text << "\" missing after offset " << at << " of the log:\n" << log;
            return;
        }
        at = found + text.size();
    }
}

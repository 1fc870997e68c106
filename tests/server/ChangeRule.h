#pragma once

// The change rule written out afresh, so that the band is checked against
// rows it did not compute: named places stay, the other bells swap in pairs.

#include <string>
#include <string_view>
#include <vector>

inline std::string change(const std::string& row, const std::string& token)
{
    constexpr std::string_view kPlaces = "1234567890ET";
    std::string next = row;
    for (std::size_t i = 0; i + 1 < row.size();) {
        if (token.find(kPlaces[i]) != std::string::npos) {
            ++i;
            continue;
        }
        std::swap(next[i], next[i + 1]);
        i += 2;
    }
    return next;
}

// The rows after the start row, lead by lead (repeating the leads given),
// until rounds come back.
inline std::vector<std::string> course(const std::string& rounds, const std::vector<std::vector<std::string>>& leads)
{
    std::vector<std::string> rows;
    std::string row = rounds;
    for (std::size_t lead = 0; rows.empty() || row != rounds; ++lead) {
        for (const std::string& token : leads[lead % leads.size()]) {
            row = change(row, token);
            rows.push_back(row);
            if (row == rounds)
                return rows;
        }
    }
    return rows;
}

inline const std::vector<std::string> kPlainBobMinor{"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"};

#include "method/StartRow.h"

#include "method/PlaceNotation.h"

#include <algorithm>

namespace {

// One coursing step: the front bell drops to second place, bells in odd places
// move up two, the bell in the last odd place turns to the back, and bells in
// even places move down two. Two or fewer bells cannot course.
void coursingStep(std::string& w)
{
    const int m = static_cast<int>(w.size());
    if (m <= 2)
        return;
    const char s = w[0];
    int i = 0;
    do {
        int v;
        if (i % 2 == 1) {
            v = i - 2;
        } else {
            v = i + 2;
            if (v >= m)
                v = i - 1;
        }
        w[static_cast<std::size_t>(i)] = w[static_cast<std::size_t>(v)];
        i = v;
    } while (i > 1);
    w[1] = s;
}

// `fixedBells` bells stay in front (and for two, the tenor behind); the others
// course until `target` leads them.
std::string coursedRow(int bells, int fixedBells, char target)
{
    const std::string round = roundsOn(bells);
    const int working = bells - 2 * fixedBells + 1;
    if (working <= 0)
        return round;
    std::string w = round.substr(static_cast<std::size_t>(fixedBells), static_cast<std::size_t>(working));
    for (int step = 0; step < bells && w[0] != target; ++step)
        coursingStep(w);
    if (w[0] != target)
        return round;
    std::string row = round.substr(0, static_cast<std::size_t>(fixedBells)) + w;
    if (fixedBells == 2)
        row += round.back();
    return row;
}

} // namespace

std::string roundsOn(int bells)
{
    return std::string(kBellSymbols.substr(0, static_cast<std::size_t>(std::clamp(bells, 0, kMaxBells))));
}

bool isRow(std::string_view row)
{
    std::string sorted(row);
    std::sort(sorted.begin(), sorted.end(),
              [](char a, char b) { return kBellSymbols.find(a) < kBellSymbols.find(b); });
    return row.size() <= static_cast<std::size_t>(kMaxBells) && sorted == roundsOn(static_cast<int>(row.size()));
}

std::string startRowFor(std::string_view startChange, int bells)
{
    const std::string round = roundsOn(bells);
    const auto inRounds = [&round](char symbol) { return round.find(symbol) != std::string::npos; };
    if (startChange.size() == 2 && startChange[0] == '1' && inRounds(startChange[1]))
        return coursedRow(bells, 1, startChange[1]);
    if (startChange.size() == 3 && startChange.substr(0, 2) == "12" && inRounds(startChange[2]))
        return coursedRow(bells, 2, startChange[2]);
    if (startChange.size() == round.size() && isRow(startChange))
        return std::string(startChange);
    return round;
}

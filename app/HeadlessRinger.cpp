#include "app/HeadlessRinger.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

bool isControlByte(unsigned char c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

// One message, one line, whatever the server put inside it: line breaks
// become spaces and every other control byte is written as \xNN, so that no
// server can move the cursor or drive the terminal.
std::string terminalLine(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    std::string safe;
    safe.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r') {
            safe += ' ';
        } else if (isControlByte(byte)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            safe += escaped;
        } else {
            safe += c;
        }
    }
    return safe;
}

} // namespace

void HeadlessRinger::showMessage(const std::string& text)
{
    std::fprintf(stderr, "tolvane: %s\n", terminalLine(text).c_str());
    std::fflush(stderr);
}

void HeadlessRinger::showChanges(const ChangeDisplay& display)
{
    for (const std::string& row : display.addedRows)
        std::fprintf(stdout, "%s\n", row.c_str());
    std::fflush(stdout);
}

void HeadlessRinger::showStriking(const StrikingSummary& summary)
{
    if (summary.touchEnded)
        showMessage(describeTouch(summary));
}

void HeadlessRinger::endRun()
{
    QCoreApplication::exit(exitCode());
}

TowerChoice HeadlessRinger::askForTower(const TowerList& towers, bool listComplete)
{
    if (!listComplete)  // a welcome waits for the list; a refusal ends the run
        return towerAlreadyRequested() ? TowerChoice::cancel() : TowerChoice::wait();
    if (towerAlreadyRequested())
        return TowerChoice::wait();  // the list again, while joined or joining
    // Rejoining, only the tower left will do: nobody is there to say
    // whether another is wanted.
    const std::string& left = controller().towerToRejoin();
    const auto wanted = left.empty() ? options().tower : std::optional(left);
    if (wanted) {
        showMessage("Tower not found: " + *wanted);
        return TowerChoice::cancel();
    }
    if (towers.size() == 1)
        return TowerChoice::join(towers.begin()->first);
    std::string names;
    for (const auto& [name, description] : towers)
        names += (names.empty() ? "" : ", ") + name;
    showMessage("Choose a tower with --tower NAME; the server has: " + names);
    return TowerChoice::cancel();
}

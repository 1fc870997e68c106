#include "app/HeadlessRinger.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

void HeadlessRinger::showMessage(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    // One message, one line, whatever the server put inside it.
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    std::fprintf(stderr, "tolvane: %s\n", line.c_str());
    std::fflush(stderr);
}

void HeadlessRinger::showChanges(const ChangeDisplay& display)
{
    for (const std::string& row : display.addedRows)
        std::fprintf(stdout, "%s\n", row.c_str());
    std::fflush(stdout);
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
    if (const auto& wanted = options().tower) {
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

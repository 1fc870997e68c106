#pragma once

#include "app/RingerShell.h"

// The front end for unattended runs: no window and no display needed. Every
// message goes to standard error as one line and the run goes on as if OK
// had been pressed; every row rung goes to standard output as it comes.
class HeadlessRinger : public RingerShell {
public:
    using RingerShell::RingerShell;

    void showMessage(const std::string& text) override;
    void showSpeed(const std::string&, const std::string&) override {}
    void showChanges(const ChangeDisplay& display) override;
    bool showsStriking() const override { return true; }
    void showStriking(const StrikingSummary& summary) override;
    void endRun() override;

protected:
    void showReconnecting(const std::string& text) override { showMessage(text); }
    TowerChoice askForTower(const TowerList& towers, bool listComplete) override;
    bool playsSound() const override { return false; }
};

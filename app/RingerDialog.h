#pragma once

#include "app/RingerShell.h"

#include <QDialog>

#include <deque>
#include <functional>

class QLabel;
class QPushButton;

// The main window: the buttons and counters of the robot, and the controller
// of the run. Its modal loop is the whole run.
class RingerDialog : public QDialog, public RingerShell {
public:
    explicit RingerDialog(Options options);

    void showMessage(const std::string& text) override;
    void showMessageThen(const std::string& text, const std::function<void()>& then) override;
    void showSpeed(const std::string& adjustment, const std::string& pealSpeed) override;
    void showChanges(const ChangeDisplay& display) override;
    void endRun() override;

    // Escape and the close box end the run.
    void reject() override;

protected:
    // The window's menu: the options dialog, which leaves the controls as they are.
    void contextMenuEvent(QContextMenuEvent* event) override;
    TowerChoice askForTower(const TowerList& towers, bool listComplete) override;

private:
    struct PendingText {
        std::string text;
        int times = 1;
        std::function<void()> then;
    };

    void buildControls();
    void setMethod();
    void editOptions();
    void showBox(const PendingText& pending);
    void queueText(const std::string& text, const std::function<void()>& then);

    QLabel* speedAdjustmentValue = nullptr;
    QLabel* pealSpeedValue = nullptr;
    QLabel* lastChangesView = nullptr;
    QLabel* changesRungValue = nullptr;
    QLabel* changeInLeadValue = nullptr;

    // One box at a time: texts that come while a box is open wait for it.
    bool boxOpen = false;
    std::deque<PendingText> waitingTexts;
    int droppedTexts = 0;
};

QIcon bellIcon();

#pragma once

#include "app/RingerShell.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>

class ChartWindow;
class PersonStrip;
class QAction;
class QKeyEvent;
class QLabel;
class QLayout;
class QPushButton;
class RowsView;

// The main window: the buttons and counters of the robot, and the controller
// of the run. Its modal loop is the whole run.
class RingerDialog : public QDialog, public RingerShell {
public:
    explicit RingerDialog(Options options);

    void showMessage(const std::string& text) override;
    // The server's texts. While a person rings with the keys they go to the
    // status line under the rows: a box would take the keys, and a server
    // may say the same thing at every pause.
    void showMessageThen(const std::string& text, const std::function<void()>& then) override;
    void showFinalMessage(const std::string& text) override;
    void showSpeed(const std::string& adjustment, const std::string& pealSpeed) override;
    void showChanges(const ChangeDisplay& display) override;
    bool showsStriking() const override { return true; }
    void showStriking(const StrikingSummary& summary) override;
    void showPersonPath(const PersonPath& path) override;
    void setPersonBells(const PersonBells& bells) override;
    // Shown large under the rows for two seconds.
    void heardCall(const std::string& words) override;
    void endRun() override;

    // Escape and the close box end the run.
    void reject() override;
    // "Options..." in the window's menu.
    void editOptions();
    // "Import methods..." in the window's menu, once a file is chosen: reads
    // it with a progress bar, stores the methods, says how it went and
    // offers them from then on.
    void importMethodsFrom(const QString& file);
    // "Striking chart..." in the window's menus: the chart of the last touch
    // a person rang in, in a window of its own; null when there is none.
    ChartWindow* openStrikingChart();

protected:
    // The window's right-click menu, a shortcut to the menu bar's Ringing menu.
    void contextMenuEvent(QContextMenuEvent* event) override;
    // While a person rings, Space, J and F strike their bells wherever the
    // focus is in this window, and reach no button; L, G, B, N, T and S
    // make the calls, whether or not a bell is rung by hand.
    bool eventFilter(QObject* watched, QEvent* event) override;
    TowerChoice askForTower(const TowerList& towers, bool listComplete) override;
    // In the line that says what is rung, until the bells are assigned again.
    void showReconnecting(const std::string& text) override;
    // With the saved server, perhaps only the first start's guess, another
    // may be given before the run ends; one the command line chose stands.
    void connectFailedWith(const std::string& failure) override;

private:
    struct PendingText {
        std::string text;
        int times = 1;
        std::function<void()> then = {};
        bool final = false;  // ends the run: never only counted
        int counted = 0;     // when above 0, stands for that many texts only counted
    };

    void buildControls();
    void buildMenuBar();
    void showKeys();
    void showAbout();
    QLayout* callButtons();
    void setMethod();
    void offerAnotherServer();
    void chooseMethodsToImport();
    void offerText(PendingText pending);
    void showBox(const PendingText& pending);
    void queueText(PendingText pending);
    QWidget* topWindow();
    void closeOtherWindows(bool boxesToo);
    void showWhatIsRung();
    bool ringsByHand() const;
    bool hasPersonBell() const;
    void showInStatusLine(const std::string& text);
    bool takeKey(QObject* watched, QEvent* event);
    void releaseKeys();
    bool isRepeat(const QKeyEvent& event);
    void makeCall(const char* words);
    void showStrikingFigures(const QString& text, const StrikingFigures& figures, bool wholeTouch);
    void showPersonStrip();
    void markBellsInRows();

    QLabel* speedAdjustmentValue = nullptr;
    QLabel* pealSpeedValue = nullptr;
    RowsView* lastChangesView = nullptr;
    QLabel* changesRungValue = nullptr;
    QLabel* changeInLeadValue = nullptr;
    QLabel* strikingValue = nullptr;
    QLabel* ringingValue = nullptr;
    QString ringingText;
    PersonStrip* personStrip = nullptr;
    QLabel* statusLine = nullptr;  // the server's texts while a person rings, and a touch's end
    bool touchEndSaid = false;     // the status line says a touch has ended
    std::map<int, unsigned long> keyReleasedAt;  // the event time of each key's last release
    std::set<int> callKeysHeld;                 // a call key held down calls once
    QLabel* callView = nullptr;                 // the last call heard, for two seconds
    QTimer callShown;
    std::string callNotSentSaid;  // why the last call was not sent, said once
    // The chart of the last touch a person rang in, and the window it was last shown in.
    std::string strikingChart;
    QAction* chartAction = nullptr;
    QPointer<ChartWindow> chartWindow;

    // One box at a time: texts that come while a box is open wait for it.
    bool boxOpen = false;
    std::deque<PendingText> waitingTexts;
    // Once the run is over no new window opens; the main window closes when
    // the texts still waiting have been shown.
    bool runOver = false;
};

QIcon bellIcon();

// Asks for the server in the options dialog's server fields, `host` and
// `port` filled in; on OK saves the answer and puts it into `options`. False
// on Cancel.
bool askForServer(Options& options, const std::string& host, int port, QWidget* parent = nullptr);

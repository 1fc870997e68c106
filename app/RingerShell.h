#pragma once

#include "app/BellSound.h"
#include "app/CommandLine.h"
#include "app/PreciseTimer.h"
#include "ringer/RingerController.h"
#include "ringer/RingerHost.h"

#include <QSocketNotifier>
#include <QTimer>

#include <netinet/in.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

// What the window and the headless front end share: the socket, the connect
// and strike timers, the clock, start-up, and the controller they drive. The
// front ends add how messages, displays and the tower choice reach a person.
class RingerShell : public RingerHost {
public:
    explicit RingerShell(Options options);
    ~RingerShell() override;

    // Loads the library and applies the method options. Returns what is wrong
    // with them, or nothing.
    std::string prepare();
    // SIGINT and SIGTERM end the run as the user would. REQUIRES: both are
    // blocked in every thread (blockTerminationSignals, before Qt starts).
    void watchTerminationSignals();
    // Arms the connect timer; the connection is made once the loop runs.
    void start();

    RingerController& controller() { return ringer; }
    const RingerController& controller() const { return ringer; }
    // How Tolvane times its blows: at start-up the command line's values over
    // the saved ones, later what the options dialog sets. Takes effect from the next touch.
    const RhythmSettings& rhythmSettings() const { return rhythm; }
    void setRhythmSettings(const RhythmSettings& settings);
    // The bells the user rings at the keyboard, the left hand's first, 0
    // none; from the next touch.
    const PersonBells& personBells() const { return handBells; }
    virtual void setPersonBells(const PersonBells& bells);
    // The bells' sound: at start-up the command line's choice over the saved
    // one, later what the options dialog sets.
    const SoundSettings& soundSettings() const { return soundChoice; }
    void setSoundSettings(const SoundSettings& settings);
    const Options& options() const { return opts; }
    // 0 ended by the user or the server; 1 no connection, or no tower joined
    // (at the start or on rejoining).
    int exitCode() const;

    long sendBytes(std::string_view bytes, int& error) override;
    void watchWritable(bool on) override;
    void closeSocket() override;
    void armStrikeTimer(int milliseconds) override;
    void killStrikeTimer() override;
    Micros monotonicMicros() override;
    TowerChoice chooseTower(const TowerList& towers, bool listComplete) override;
    void showMessageLater(const std::string& text) override;
    void reconnectAfter(int milliseconds, int attempt, const std::string& refusal) override;
    void heardStrike(int bell, bool handstroke) override;
    void struckByHand(int bell) override;

protected:
    // The user ends the run (Escape, the close box, a signal).
    void userEndsRun();
    // Says that the connection is being made again (reconnectingText).
    virtual void showReconnecting(const std::string& text) = 0;
    // The choice when --tower does not settle it.
    virtual TowerChoice askForTower(const TowerList& towers, bool listComplete) = 0;
    bool towerAlreadyRequested() const { return towerRequested; }
    bool runEndedByUser() const { return endedByUser; }
    // False for a front end that never plays sound (the headless one).
    virtual bool playsSound() const { return true; }
    // The connect at the start failed: says why and ends the run. A front end
    // may first offer another server (connectTo) or end it (endUnconnected).
    virtual void connectFailedWith(const std::string& failure);
    void endUnconnected();
    // Connects to another server, as at the start, once the loop runs again.
    void connectTo(const std::string& host, int port);

private:
    void openConnection();
    std::string connectToServer();
    void startReconnectAttempt();
    void pollReconnectAttempt();
    void endReconnectAttempt(int error);
    void abandonReconnectAttempt();
    bool attemptPending() const;
    void useConnection();
    void watchSocket();
    void readFromSocket();
    MethodSettings startupSettings(bool& known) const;

    Options opts;
    RingerController ringer;
    RhythmSettings rhythm;
    PersonBells handBells{};
    SoundSettings soundChoice;
    BellSound bellSound;
    QTimer connectTimer;
    // An attempt to reconnect runs beside the window rather than blocking it:
    // the name is looked up on a thread of its own, the connect does not
    // wait, and this timer watches both against one deadline.
    QTimer attemptTimer;
    std::future<std::optional<in_addr>> attemptAddress;
    std::chrono::steady_clock::time_point attemptDeadline;
    std::unique_ptr<QSocketNotifier> attemptNotifier;
    QObject laterMessages;  // context of the texts shown once the loop is back
    PreciseTimer strikeTimer;
    int socketFd = -1;
    int socketsOpened = 0;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    int signalFd = -1;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    bool connectFailed = false;
    bool endedByUser = false;
    bool towerRequested = false;
};

// Where methods.txt is looked for: the current directory, then beside the
// program, then the installed data folder.
std::vector<std::filesystem::path> methodLibraryCandidates();

void blockTerminationSignals();

// "Connection lost: reconnecting... (attempt 2)"
std::string reconnectingText(int attempt, const std::string& refusal = {});

// Prepares the shell, starts it and runs `loop` (the modal loop of the window
// or the application's loop); returns the process's exit status.
int runShell(RingerShell& shell, const std::function<void()>& loop);

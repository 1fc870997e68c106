#pragma once

// What the Qt-free logic needs from the shell that runs it: the window, the
// headless front end, or a test's recording fake. Every call is made on the
// one thread that runs everything; showMessage and chooseTower are modal and
// may run a nested event loop in which more socket events and timer ticks are
// handled before they return.

#include "method/MessageSink.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using TowerList = std::map<std::string, std::string>;  // tower name -> description

struct TowerChoice {
    enum class Action { Join, Cancel, Wait };
    Action action = Action::Cancel;
    std::string tower;  // the bytes of the name, for Join

    static TowerChoice join(std::string name) { return {Action::Join, std::move(name)}; }
    static TowerChoice cancel() { return {}; }
    // Not now: the choice is made when the list is complete.
    static TowerChoice wait() { return {Action::Wait, {}}; }
};

struct ChangeDisplay {
    int changesRung = 0;
    int changeInLead = 0;
    std::string lastChanges;             // the ten-line panel, "\r\n" between rows
    std::vector<std::string> addedRows;  // the rows this refresh added to the panel
};

class RingerHost : public MessageSink {
public:
    // Offers bytes to the socket: returns how many it took, or -1 with `error`
    // set to the platform's error code.
    virtual long sendBytes(std::string_view bytes, int& error) = 0;
    // Watch for room to write exactly while there are bytes waiting.
    virtual void watchWritable(bool on) = 0;
    virtual void closeSocket() = 0;

    // Arming a running timer replaces its period.
    virtual void armStrikeTimer(int milliseconds) = 0;
    virtual void killStrikeTimer() = 0;
    // Milliseconds since midnight, UTC.
    virtual int millisecondOfDay() = 0;

    virtual void showSpeed(const std::string& adjustment, const std::string& pealSpeed) = 0;
    virtual void showChanges(const ChangeDisplay& display) = 0;

    // Shows a text, and runs `then` once the user has dismissed it. A shell
    // that holds back a text while another is open runs `then` only when this
    // text's own box is dismissed.
    virtual void showMessageThen(const std::string& text, const std::function<void()>& then)
    {
        showMessage(text);
        then();
    }

    // Shows a text once the event being handled is done: for failures found
    // deep inside a handler, whose box must not run a nested loop mid-step.
    virtual void showMessageLater(const std::string& text) { showMessage(text); }

    // Shows the text that ends the run, just before endRun: a shell that
    // holds back or counts texts must still show this one.
    virtual void showFinalMessage(const std::string& text) { showMessage(text); }

    // Runs the tower choice; `listComplete` is false when the server asked
    // for a new choice before its list was whole.
    virtual TowerChoice chooseTower(const TowerList& towers, bool listComplete) = 0;
    // Ends the run (the window closes with the Cancel result).
    virtual void endRun() = 0;
};

#pragma once

// What the Qt-free logic needs from the shell that runs it: the window, the
// headless front end, or a test's recording fake. Every call is made on the
// one thread that runs everything; showMessage and chooseTower are modal and
// may run a nested event loop in which more socket events and timer ticks are
// handled before they return.

#include "engine/EngineEvents.h"
#include "engine/EngineOutput.h"
#include "method/MessageSink.h"
#include "protocol/Connection.h"

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

class RingerHost : public SocketPort, public MessageSink {
public:
    // Arming a running timer replaces its period.
    virtual void armStrikeTimer(int milliseconds) = 0;
    virtual void killStrikeTimer() = 0;
    // The monotonic clock every event is stamped with as it arrives.
    virtual Micros monotonicMicros() = 0;

    virtual void showSpeed(const std::string& adjustment, const std::string& pealSpeed) = 0;
    virtual void showChanges(const ChangeDisplay& display) = 0;
    // Our striking, for a shell that shows it; judging it costs a little.
    virtual bool showsStriking() const { return false; }
    virtual void showStriking(const StrikingSummary&) {}
    // Where the bell a person rings goes; only while a person rings.
    virtual void showPersonPath(const PersonPath&) {}
    // The person struck their bell at the keyboard (1..12), as the key went down.
    virtual void struckByHand(int) {}
    // A strike the server reported (bell 0..12), as it arrives, before the
    // engine sees it: for a shell that plays the bells' sound.
    virtual void heardStrike(int /*bell*/, bool /*handstroke*/) {}
    // A call the server relayed (anyone's, ours come back included), as it
    // arrives: the server's bytes, for a shell that shows it.
    virtual void heardCall(const std::string& /*words*/) {}

    // Shows a text the server sent, and runs `then` once the user has
    // dismissed it. A shell that holds back a text while another is open runs
    // `then` only when this text's own box is dismissed; one that shows the
    // text where nothing need be dismissed runs `then` at once.
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

    // The connection was lost and is to be made again after `milliseconds`
    // (by calling connected() or reconnectFailed() on the controller);
    // `attempt` counts from 1; `refusal` is what the server said when it
    // refused to take us back into our tower, empty when the connection was
    // simply lost or could not be made. Asked only when reconnecting is on.
    virtual void reconnectAfter(int /*milliseconds*/, int /*attempt*/, const std::string& /*refusal*/) {}

    // Runs the tower choice; `listComplete` is false when the server asked
    // for a new choice before its list was whole.
    virtual TowerChoice chooseTower(const TowerList& towers, bool listComplete) = 0;
    // Ends the run (the window closes with the Cancel result).
    virtual void endRun() = 0;
};

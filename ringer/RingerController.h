#pragma once

#include "engine/RingingEngine.h"
#include "method/Method.h"
#include "method/MethodLibrary.h"
#include "protocol/Connection.h"
#include "protocol/MessageTexts.h"
#include "protocol/NetMessage.h"
#include "ringer/RingerHost.h"

#include <cstdint>

#include <string>
#include <string_view>

// All of the program's state and logic, without the window: the connection's
// buffers, the dispatcher, the tower choice, the method settings and the
// ringing engine. The shell reports events to it and carries out what it asks
// through RingerHost. It decodes what arrives, stamps it with the host's
// monotonic clock and hands it to the engine; what the engine wants sent it
// encodes onto the connection.
class RingerController : private EngineOutput {
public:
    RingerController(RingerHost& host, std::string ringerName);
    RingerController(const RingerController&) = delete;
    RingerController& operator=(const RingerController&) = delete;

    // Socket events.
    void connected();
    void bytesReceived(std::string_view bytes);
    void writable() { connection.flushSendBuffer(); }
    void connectionLost() { loseConnection(text::kConnectionLost, true); }
    // With reconnecting on, a lost connection (once one was made) does not end
    // the run: the ringing stops, nothing waiting is sent, and the host is
    // asked to connect again after a growing delay; the tower left is joined
    // again from the next tower list.
    void setReconnect(bool on) { reconnectOn = on; }
    bool reconnectEnabled() const { return reconnectOn; }
    // Between a lost connection and the next join confirmation.
    bool reconnecting() const { return reconnectAttempt > 0; }
    // An attempt to connect again has failed: the next is asked for.
    void reconnectFailed() { scheduleReconnect({}); }
    // The tower a lost connection was in, to be joined again; empty otherwise.
    const std::string& towerToRejoin() const { return rejoinTower; }
    bool joinedOnce() const { return everJoined; }
    // The wait before attempt `attempt` (from 1): 1, 2, 4, 8, 16 s, then 30 s.
    static int reconnectDelayMs(int attempt);

    // The strike timer's expiry and the buttons.
    void strikeTimerFired() { engine.strikeOwnBell(host.monotonicMicros()); }
    void stopPressed() { engine.stop(host.monotonicMicros()); }
    void fasterPressed() { engine.faster(host.monotonicMicros()); }
    void slowerPressed() { engine.slower(host.monotonicMicros()); }
    void setSpeedAdjustment(int adjustment) { engine.setSpeedAdjustment(adjustment); }
    void setRhythm(const RhythmSettings& settings) { engine.setRhythm(settings); }
    void setPersonBells(PersonBells bells) { engine.setPersonBells(bells); }
    // A key of the person's bell, `down` or up, stamped now.
    void keyPressed(KeyEvent::Key key, bool down, bool repeat)
    {
        engine.onKey({host.monotonicMicros(), key, down, repeat});
    }

    // A call the person makes: sent, and obeyed only when the server relays it
    // back, as every ringer's call is, so that it is never applied twice.
    // Returns why it was not sent (no connection, no tower yet), or nothing.
    std::string sendPersonsCall(const std::string& words);

    // Stores the settings, compiles them and takes the new method into use;
    // messages about faulty notation are shown once it is in place.
    void applySettings(const MethodSettings& newSettings);
    void setLibrary(MethodLibrary newLibrary) { library = std::move(newLibrary); }

    // The run ends once: after a lost connection, a cancelled tower choice or
    // the user closing the window. Handlers check this after every modal.
    void endRun();
    bool running() const { return isRunning; }

    const std::string& ringerName() const { return fullRingerName; }
    // The name as the join request carries it, and so as bell assignments do.
    std::string wireRingerName() const;

    const MethodSettings& settings() const { return methodSettings; }
    const CompiledMethod& compiled() const { return compiledMethod; }
    const MethodLibrary& methodLibrary() const { return library; }
    const TowerList& towers() const { return towerList; }
    const std::string& joinedTower() const { return towerName; }
    const Connection& link() const { return connection; }
    const EngineState& ringing() const { return engine.state(); }

private:
    friend class EngineProbe;  // tests put the engine into states it is hard to ring into

    void dispatchMessage(Micros arrived);
    void handle(unsigned type, const NetMessage& message, Micros arrived);
    void onBellAssignment(const NetMessage& message);
    void sayWhenGivenNoBells(bool noBells);
    void onTowerEntry(const NetMessage& message);
    void onJoinTower(const NetMessage& message);
    void onServerText(const NetMessage& message);
    void chooseTower(bool listComplete);
    // `networkLoss`: the far side closed or reset the link, as opposed to a
    // fault in what the server sent or a server that stopped reading; only
    // such a loss is reconnected.
    void loseConnection(const std::string& text, bool networkLoss = false);
    void dropConnection(const std::string& refusal = {});
    void scheduleReconnect(const std::string& refusal);
    bool shutDown();

    // What the engine asks for.
    void sendStrike(int bellNumber, bool handstroke, std::uint16_t stamp, int echoDelay) override;
    void sendCall(const std::string& words) override;
    void armStrikeTimer(int milliseconds) override { host.armStrikeTimer(milliseconds); }
    void killStrikeTimer() override { host.killStrikeTimer(); }
    void showSpeed(const std::string& adjustment, const std::string& pealSpeed) override
    {
        host.showSpeed(adjustment, pealSpeed);
    }
    void showChanges(const ChangeDisplay& display) override { host.showChanges(display); }
    bool showsStriking() const override { return host.showsStriking(); }
    void showStriking(const StrikingSummary& summary) override { host.showStriking(summary); }
    void showPersonPath(const PersonPath& path) override { host.showPersonPath(path); }
    void struckByHand(int bell) override { host.struckByHand(bell); }
    void showMessage(const std::string& text) override { host.showMessage(text); }

    RingerHost& host;
    std::string fullRingerName;
    bool isRunning = true;
    Connection connection;
    MethodSettings methodSettings;
    CompiledMethod compiledMethod;
    MethodLibrary library;
    TowerList towerList;
    std::string towerName;
    bool reconnectOn = false;
    bool everConnected = false;
    bool everJoined = false;
    int reconnectAttempt = 0;
    bool toldNoBells = false;  // since the join, or since bells were last given
    int connectionNumber = 0;  // a choice made on an earlier connection is not sent on this one
    std::string rejoinTower;
    bool rejoinSent = false;  // the join of rejoinTower is on its way, unanswered
    RingingEngine engine;
};

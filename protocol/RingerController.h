#pragma once

#include "engine/RingingEngine.h"
#include "method/Method.h"
#include "method/MethodLibrary.h"
#include "protocol/Connection.h"
#include "protocol/MessageTexts.h"
#include "protocol/NetMessage.h"
#include "protocol/RingerHost.h"

#include <string>
#include <string_view>

// All of the program's state and logic, without the window: the connection's
// buffers, the dispatcher, the tower choice, the method settings and the
// ringing engine. The shell reports events to it and carries out what it asks
// through RingerHost.
class RingerController {
public:
    RingerController(RingerHost& host, std::string ringerName);
    RingerController(const RingerController&) = delete;
    RingerController& operator=(const RingerController&) = delete;

    // Socket events.
    void connected();
    void bytesReceived(std::string_view bytes);
    void writable() { connection.flushSendBuffer(); }
    void connectionLost() { loseConnection(text::kConnectionLost); }

    // The strike timer's expiry and the buttons.
    void strikeTimerFired() { engine.strikeOwnBell(); }
    void stopPressed() { engine.stop(); }
    void fasterPressed() { engine.faster(); }
    void slowerPressed() { engine.slower(); }

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
    RingingEngine& ringing() { return engine; }
    const RingingEngine& ringing() const { return engine; }

private:
    void dispatchMessage();
    void handle(unsigned type, const NetMessage& message);
    void onTowerEntry(const NetMessage& message);
    void onJoinTower(const NetMessage& message);
    void onServerText(const NetMessage& message);
    void chooseTower(bool listComplete);
    void loseConnection(const std::string& text);
    bool shutDown();

    RingerHost& host;
    std::string fullRingerName;
    bool isRunning = true;
    Connection connection;
    MethodSettings methodSettings;
    CompiledMethod compiledMethod;
    MethodLibrary library;
    TowerList towerList;
    std::string towerName;
    RingingEngine engine;
};

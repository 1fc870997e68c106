#pragma once

// One tower as the server runs it: who is in it (TowerState), its simulated
// band, the band's settings as a captain chose them, and what the tower page
// shows of it: the last rows, the band's notices and each touch's striking.
// The tower reaches its clients through its host, the loop that owns the sockets.

#include "protocol/NetMessage.h"
#include "server/Band.h"
#include "server/TowerState.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What a captain chooses of a tower's band.
struct BandChoice {
    std::string method;        // a name from the method library
    double pealMinutes = 180;
    double sdMs = 20;
    bool conductor = true;
    friend bool operator==(const BandChoice&, const BandChoice&) = default;
};

struct TowerSetup {
    TowerConfig config;
    BandSettings band;
    std::shared_ptr<const CompiledMethod> method;
    BandChoice choice;
};

// A row as the tower heard it: each place's blow in ms after the row's first.
struct RowHeard {
    int number = 0;
    bool handstroke = true;
    std::string row;
    std::vector<int> offsetsMs;
};

// A touch that has stood: its striking lines and its chart.
struct TouchStruck {
    int number = 0;
    std::vector<std::string> lines;
    std::string svg;
    // The same figures as numbers, for the page's table and the API.
    std::vector<striking::RingerStats> ringers;
    striking::Stats band;
    striking::StrokeStats bandStrokes;
    striking::RowFigures rows;
};

class Tower;

class TowerHost {
public:
    virtual ~TowerHost() = default;
    virtual void broadcast(const Tower& tower, const NetMessage& message) = 0;
    virtual void log(const std::string& line) = 0;
    virtual void touchStood(const Tower& tower, const TouchStruck& touch) = 0;
    // Whether a touch's chart is wanted at all (it can be large), and whether
    // the tower keeps its touches to show.
    virtual bool wantsCharts() const = 0;
    virtual bool showsTouches() const = 0;
};

class Tower : public BandOutput {
public:
    // Rows and notices the page keeps, and touches.
    static constexpr std::size_t kRowsKept = 12;
    static constexpr std::size_t kNoticesKept = 8;
    static constexpr std::size_t kTouchesKept = 10;

    Tower(TowerHost& host, int index, TowerSetup setup, const std::map<std::string, std::set<int>>& ringers);

    const std::string& name() const { return state.config().name; }
    // Forms a new band with `settings` and `method`, told who holds which bell.
    void replaceBand(const BandSettings& settings, std::shared_ptr<const CompiledMethod> method, Micros now);

    int index;
    TowerState state;
    TowerSetup setup;
    std::unique_ptr<Band> band;
    // A band change asked for while the band rings waits for it to stand.
    std::optional<TowerSetup> pendingBand;
    std::deque<RowHeard> rows;
    std::deque<std::string> notices;
    std::deque<TouchStruck> touches;

    // BandOutput
    void strike(int bell, bool handstroke) override;
    void call(const std::string& text) override;
    void text(const std::string& text) override;
    void log(const std::string& line) override;
    void rowRung(int number, bool handstroke, const std::string& row, const std::vector<int>& offsetsMs) override;
    void struck(int touch, const std::vector<striking::Blow>& blows, const striking::StrikingReport& report,
                const striking::RowFigures& rows) override;

private:
    TowerHost& host_;
    // The band's judgement of the touch now standing, line by line as logged.
    std::vector<std::string> strikingLines_;
};

// Where the chart of touch `touch` (from 1) of tower `tower` (from 0) goes.
std::string strikingReportPath(const std::string& path, int tower, int touch);

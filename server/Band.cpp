#include "server/Band.h"
#include "server/LogText.h"

#include "method/PlaceNotation.h"
#include "server/TowerState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

char symbolOf(int bell)
{
    return kBellSymbols[static_cast<std::size_t>(bell - 1)];
}

const char* callText(int kind)
{
    return kind == kBob ? "Bob" : kind == kSingle ? "Single" : "";
}

}  // namespace

Micros strikeIntervalFor(double pealMinutes, int bells)
{
    const double rowsOfIntervals = 5040.0 * bells + 2520.0;
    return static_cast<Micros>(std::llround(pealMinutes * 60e6 / rowsOfIntervals));
}

Band::Band(BandSettings settings, std::shared_ptr<const CompiledMethod> method, BandOutput& output)
    : settings_(settings), method_(std::move(method)), out_(output), stepper_(method_, settings.bells),
      random_(settings.seed)
{
    stepper_.start();
    // Its own stream, so that a drift does not change the errors drawn.
    std::seed_seq driftSeed{settings.seed, 1u};
    driftRandom_.seed(driftSeed);
    if (settings_.biasBound > 0)
        for (Micros& bias : bias_)
            bias = std::uniform_int_distribution<Micros>(-settings_.biasBound, settings_.biasBound)(random_);
    pace_ = paceForRow(0);
}

// ---------------------------------------------------------------------------
// Events from the tower

void Band::setClients(std::map<int, std::string> clientBells, bool anyClient, Micros now)
{
    clientBells_ = std::move(clientBells);
    covering_.clear();
    // Every client's assignment resets the stroke of each bell it lists, and
    // together the assignments list every bell.
    lastStroke_.fill(false);
    if (ringing_) {
        out_.log("ringing stops: the bells were reassigned");
        stopRinging();
    }
    touchesRung_ = 0;
    if (!settings_.conductor)
        return;
    phase_ = anyClient ? Phase::Settling : Phase::Idle;
    phaseAt_ = now + settings_.startDelay;
}

void Band::onStrike(int bell, bool handstroke, const std::string& ringer, Micros now)
{
    if (bell < 1 || bell > settings_.bells)
        return;
    covering_.erase(ringer);
    hearStrike(bell, handstroke, now, ringer);
    flushCalls(now);
}

void Band::onCall(const std::string& text, const std::string& ringer, Micros now)
{
    out_.log("call \"" + text + "\" by " + ringer);
    hearCall(text, now);
    flushCalls(now);
}

std::optional<Micros> Band::deadline() const
{
    std::optional<Micros> next;
    if (phase_ == Phase::Settling)
        next = phaseAt_;
    if (ringing_ && nextBell_ != 0)
        next = next ? std::min(*next, nextAt_) : nextAt_;
    return next;
}

void Band::onTime(Micros now)
{
    if (phase_ == Phase::Settling && now >= phaseAt_)
        beginTouch(now);
    if (ringing_ && nextBell_ != 0 && now >= nextAt_)
        ringNext(now);
    flushCalls(now);
}

// ---------------------------------------------------------------------------
// Following the strikes, as the clients do

void Band::startRinging(Micros now)
{
    ringing_ = true;
    handstroke_ = true;
    inRounds_ = true;
    stopRequested_ = false;
    goState_ = 0;
    struck_.clear();
    stepper_.start();
    rowsRung_ = 0;
    methodStarted_ = goCalled_ = thatsAllCalled_ = standCalled_ = false;
    roundsReachedAt_ = 0;
    nextBell_ = 0;
    blows_.clear();
    idealsMs_.clear();
    methodFromRow_ = 0;
    toldCovering_.clear();
    // The first blow sets the rhythm; the band's own first blow is due one
    // interval after the start.
    anchored_ = false;
    pace_ = paceForRow(driftRow_);
    rowIdeal_ = now + pace_;
    floor_ = now;
    if (settings_.conductor)
        phase_ = Phase::Ringing;
    out_.log("ringing starts from " + stepper_.row() + " at " + millis(now));
    scheduleNext(now);
}

void Band::stopRinging()
{
    ringing_ = false;
    nextBell_ = 0;
}

void Band::hearStrike(int bell, bool stroke, Micros now, const std::string& ringer)
{
    if (!ringing_)
        startRinging(now);
    const auto index = static_cast<std::size_t>(bell - 1);
    // Only a change of stroke is a new strike.
    if (lastStroke_[index] == stroke)
        return;
    lastStroke_[index] = stroke;
    strikeTime_[index] = now;
    struckBy_[index] = ringer;
    bellStruck(bell, stroke, now);
}

void Band::bellStruck(int bell, bool stroke, Micros now)
{
    const char symbol = symbolOf(bell);
    if (stroke != handstroke_ || struck_.find(symbol) != std::string::npos)
        return;
    struck_ += symbol;
    followBlow(stepper_.row().find(symbol), now);
    if (bell == nextBell_)
        nextBell_ = 0;
    if (struck_.size() == static_cast<std::size_t>(settings_.bells) && completeRow()) {
        stopRinging();
        touchEnded(now);
        return;
    }
    scheduleNext(now);
}

// The band keeps time with whoever struck: the first blow of the ringing sets
// the beat, and no band blow comes on top of the blow just heard.
void Band::followBlow(std::size_t position, Micros now)
{
    if (!anchored_) {
        anchored_ = true;
        rowIdeal_ = now - static_cast<Micros>(position) * pace_;
    }
    floor_ = std::max(floor_, now + static_cast<Micros>(kFollowFraction * static_cast<double>(pace_)));
}

// Returns whether the ringing stops with this row.
bool Band::completeRow()
{
    logRow();
    recordRow();
    ++rowsRung_;
    bool stopping = false;
    if (!inRounds_ && stepper_.hasMethod()) {
        if (stepper_.row() == stepper_.rounds()) {
            if (settings_.mode == 0) {
                stopping = true;
            } else if (goState_ == 2) {
                goState_ = 0;
                inRounds_ = true;
                roundsReachedAt_ = rowsRung_;
                out_.log("rounds");
            }
        }
    } else if (!handstroke_ && (settings_.mode == 0 || goState_ == 1)) {
        if (inRounds_ && stepper_.hasMethod()) {
            out_.log("method starts");
            methodFromRow_ = rowsRung_;
        }
        inRounds_ = false;
        goState_ = 0;
        methodStarted_ = true;
    }
    if (!inRounds_ && stepper_.hasMethod()) {
        if (const int kind = stepper_.advance(); kind != kPlainCall)
            queueCall(callText(kind));
    }
    handstroke_ = !handstroke_;
    rowIdeal_ += settings_.bells * pace_ + (handstroke_ ? pace_ : 0);
    pace_ = paceForRow(++driftRow_);
    recountStruck();
    if (handstroke_ && stopRequested_)
        stopping = true;
    if (!stopping)
        conductAfterRow();
    return stopping;
}

// Bells that sounded their stroke of the new row before the old one was
// complete count as struck in it.
void Band::recountStruck()
{
    struck_.clear();
    nextBell_ = 0;
    for (int bell = 1; bell <= settings_.bells; ++bell)
        if (lastStroke_[static_cast<std::size_t>(bell - 1)] == handstroke_)
            struck_ += symbolOf(bell);
}

void Band::scheduleNext(Micros now)
{
    const auto position = stepper_.row().find_first_not_of(struck_);
    if (position == std::string::npos)
        return;
    const int bell = bellOf(stepper_.row()[position]);
    const auto owner = clientBells_.find(bell);
    const bool bands = owner == clientBells_.end() || covering_.count(owner->second) != 0;
    // Still waiting for the same bell: its time stands, unless a blow heard
    // since would have it strike on top of that blow.
    if (bell == nextBell_) {
        if (bands && nextAt_ < floor_ && !settings_.keepsRhythm) {
            rowIdeal_ += floor_ - nextAt_;
            nextAt_ = floor_;
        }
        return;
    }
    nextBell_ = bell;
    nextFreeAt_ = now;
    const Micros ideal = rowIdeal_ + static_cast<Micros>(position) * pace_;
    nextAt_ = bands ? plannedBlow(ideal, bell) : std::max(ideal, floor_) + settings_.wait;
}

// A band blow lands at its ideal time plus its bell's bias and an error, but
// never on top of the blow before: then the beat moves back with it and the
// bells after follow on at the band's pace rather than rushing to catch up.
Micros Band::plannedBlow(Micros ideal, int bell)
{
    const Micros planned = ideal + bias_[static_cast<std::size_t>(bell - 1)] + strikeError();
    // A band that keeps its own rhythm rings each bell at its own time, or at
    // once when a late bell in front has held it past that.
    if (planned >= floor_ || settings_.keepsRhythm)
        return planned;
    rowIdeal_ += floor_ - planned;
    return floor_;
}

void Band::hearCall(const std::string& text, Micros now)
{
    if (text == "Here's treble") {
        startRinging(now);
    } else if (text == "Bob") {
        stepper_.hearCall(kBob);
    } else if (text == "Single") {
        stepper_.hearCall(kSingle);
    } else if (text == "Extreme") {
        stepper_.hearCall(kExtreme);
    } else if (text == "Go") {
        if (settings_.mode == 1)
            goState_ = 1;
    } else if (text == "That's All") {
        if (settings_.mode == 1)
            goState_ = 2;
    } else if (text == "Stand") {
        stopRequested_ = true;
    }
}

void Band::queueCall(const std::string& text)
{
    callsToMake_.push_back(text);
}

// The band's own calls go out after the strike that prompted them, and the
// band hears each as the clients will.
void Band::flushCalls(Micros now)
{
    while (!callsToMake_.empty()) {
        const std::string text = callsToMake_.front();
        callsToMake_.erase(callsToMake_.begin());
        out_.call(text);
        out_.log("call \"" + text + "\" by band");
        hearCall(text, now);
    }
}

// ---------------------------------------------------------------------------
// Ringing the band's bells

void Band::ringNext(Micros now)
{
    const int bell = nextBell_;
    if (const auto owner = clientBells_.find(bell); owner != clientBells_.end())
        coverFor(owner->second, bell);
    ringBell(bell, strikeTimeOnWaking(now));
}

// A band that keeps its rhythm strikes at its time however late the server
// woke for it (a busy host is no ringer's error, and its true rhythm would
// judge it so), or as soon as a late bell in front let it. A band that follows
// takes a wake-up a little late as on time, so that the lateness does not add
// up strike after strike, and does not catch up a long stall by rushing.
Micros Band::strikeTimeOnWaking(Micros now) const
{
    if (settings_.keepsRhythm)
        return std::max(nextAt_, nextFreeAt_);
    return now - nextAt_ <= kLateWakeUp ? nextAt_ : now;
}

void Band::ringBell(int bell, Micros now)
{
    const bool stroke = handstroke_;
    // A bell left at this stroke (the last touch stood after a handstroke row)
    // is first rung round to the other stroke, or every ringer would take the
    // strike for a repeat.
    if (lastStroke_[static_cast<std::size_t>(bell - 1)] == stroke) {
        out_.strike(bell, !stroke);
        hearStrike(bell, !stroke, now, kBandName);
    }
    out_.strike(bell, stroke);
    hearStrike(bell, stroke, now, kBandName);
}

void Band::coverFor(const std::string& ringer, int bell)
{
    out_.log("band rings bell " + std::to_string(bell) + " for " + ringer);
    covering_.insert(ringer);
    if (toldCovering_.insert(ringer).second)
        out_.text("The band rings on for " + ringer);
}

// Errors stay within half an interval either side, so that a wild draw
// cannot turn the band's rhythm inside out.
Micros Band::strikeError()
{
    const Micros halfInterval = settings_.interval / 2;
    if (settings_.uniformError) {
        const Micros bound = std::min(settings_.maxError, halfInterval);
        return bound <= 0 ? 0 : std::uniform_int_distribution<Micros>(-bound, bound)(random_);
    }
    if (settings_.errorSd <= 0)
        return 0;
    const double error = std::normal_distribution<double>(0, static_cast<double>(settings_.errorSd))(random_);
    return std::clamp<Micros>(std::llround(error), -halfInterval, halfInterval);
}

// The pace of a row: the set interval, or with a tempo drift a smooth path
// (eased from one random point to the next every kDriftRows rows) that
// starts at the set speed and stays within the drift either side.
Micros Band::paceForRow(int row)
{
    if (settings_.tempoDrift <= 0)
        return settings_.interval;
    const auto interval = static_cast<double>(settings_.interval);
    if (settings_.driftShape == BandSettings::DriftShape::Sine) {
        // Rows at the set speed stand in for the time: the pace moves by little.
        const double elapsed = row * (settings_.bells + 0.5) * interval;
        const double period = static_cast<double>(std::max<Micros>(settings_.driftPeriod, 1));
        return std::llround(interval * (1 + settings_.tempoDrift * std::sin(2 * std::numbers::pi * elapsed / period)));
    }
    if (settings_.driftShape == BandSettings::DriftShape::Ramp)
        return std::llround(interval * (1 - settings_.tempoDrift * std::min(row, kRampRows) / kRampRows));
    const int knot = row / kDriftRows;
    const double t = static_cast<double>(row % kDriftRows) / kDriftRows;
    const double eased = t * t * (3 - 2 * t);
    const double from = driftKnot(knot);
    const double swing = from + (driftKnot(knot + 1) - from) * eased;
    return std::llround(static_cast<double>(settings_.interval) * (1 + settings_.tempoDrift * swing));
}

double Band::driftKnot(int index)
{
    while (static_cast<int>(driftKnots_.size()) <= index)
        driftKnots_.push_back(driftKnots_.empty() ? 0.0 : std::uniform_real_distribution<double>(-1, 1)(driftRandom_));
    return driftKnots_[static_cast<std::size_t>(index)];
}

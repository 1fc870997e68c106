#include "server/Band.h"

#include "method/PlaceNotation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

char symbolOf(int bell)
{
    return kBellSymbols[static_cast<std::size_t>(bell - 1)];
}

int bellOf(char symbol)
{
    return static_cast<int>(kBellSymbols.find(symbol)) + 1;
}

std::string millis(Micros time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(time) / 1000.0);
    return text;
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
    hearStrike(bell, handstroke, now);
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
    if (settings_.conductor)
        phase_ = Phase::Ringing;
    out_.log("ringing starts from " + stepper_.row() + " at " + millis(now));
    scheduleNext(now, false);
}

void Band::stopRinging()
{
    ringing_ = false;
    nextBell_ = 0;
}

void Band::hearStrike(int bell, bool stroke, Micros now)
{
    if (!ringing_)
        startRinging(now);
    const auto index = static_cast<std::size_t>(bell - 1);
    // Only a change of stroke is a new strike.
    if (lastStroke_[index] == stroke)
        return;
    lastStroke_[index] = stroke;
    strikeTime_[index] = now;
    bellStruck(bell, stroke, now);
}

void Band::bellStruck(int bell, bool stroke, Micros now)
{
    const char symbol = symbolOf(bell);
    if (stroke != handstroke_ || struck_.find(symbol) != std::string::npos)
        return;
    struck_ += symbol;
    if (bell == nextBell_)
        nextBell_ = 0;
    bool rowStarted = false;
    if (struck_.size() == static_cast<std::size_t>(settings_.bells)) {
        rowStarted = true;
        if (completeRow()) {
            stopRinging();
            touchEnded(now);
            return;
        }
    }
    scheduleNext(now, rowStarted);
}

// Returns whether the ringing stops with this row.
bool Band::completeRow()
{
    logRow();
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
        if (inRounds_ && stepper_.hasMethod())
            out_.log("method starts");
        inRounds_ = false;
        goState_ = 0;
        methodStarted_ = true;
    }
    if (!inRounds_ && stepper_.hasMethod()) {
        if (const int kind = stepper_.advance(); kind != kPlainCall)
            queueCall(callText(kind));
    }
    handstroke_ = !handstroke_;
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

void Band::scheduleNext(Micros now, bool rowStarted)
{
    const auto position = stepper_.row().find_first_not_of(struck_);
    if (position == std::string::npos)
        return;
    const int bell = bellOf(stepper_.row()[position]);
    // Still waiting for the same bell: its time stands.
    if (bell == nextBell_)
        return;
    nextBell_ = bell;
    const int gaps = handstroke_ && rowStarted ? 2 : 1;
    nextDue_ = now + gaps * settings_.interval;
    const auto owner = clientBells_.find(bell);
    if (owner == clientBells_.end())
        nextAt_ = nextDue_ + strikeError();
    else
        nextAt_ = covering_.count(owner->second) != 0 ? nextDue_ : nextDue_ + settings_.wait;
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
    // A wake-up a little late is taken as on time, so that the lateness does
    // not add up strike after strike; a long stall is not caught up by rushing.
    ringBell(bell, now - nextAt_ <= kLateWakeUp ? nextAt_ : now);
}

void Band::ringBell(int bell, Micros now)
{
    const bool stroke = handstroke_;
    // A bell left at this stroke (the last touch stood after a handstroke row)
    // is first rung round to the other stroke, or every ringer would take the
    // strike for a repeat.
    if (lastStroke_[static_cast<std::size_t>(bell - 1)] == stroke) {
        out_.strike(bell, !stroke);
        hearStrike(bell, !stroke, now);
    }
    out_.strike(bell, stroke);
    hearStrike(bell, stroke, now);
}

void Band::coverFor(const std::string& ringer, int bell)
{
    out_.log("band rings bell " + std::to_string(bell) + " for " + ringer);
    if (covering_.insert(ringer).second)
        out_.text("The band rings on for " + ringer);
}

Micros Band::strikeError()
{
    const Micros bound = std::min(settings_.maxError, settings_.interval / 2);
    if (bound <= 0)
        return 0;
    return std::uniform_int_distribution<Micros>(-bound, bound)(random_);
}

// ---------------------------------------------------------------------------
// The conductor

void Band::beginTouch(Micros now)
{
    standAtBackstroke();
    queueCall("Here's treble");
    flushCalls(now);
}

// Every touch starts at handstroke; a bell whose last strike was a handstroke
// is rung at backstroke first, outside any row.
void Band::standAtBackstroke()
{
    for (int bell = 1; bell <= settings_.bells; ++bell) {
        auto& stroke = lastStroke_[static_cast<std::size_t>(bell - 1)];
        if (stroke) {
            out_.strike(bell, false);
            stroke = false;
        }
    }
}

void Band::conductAfterRow()
{
    if (!settings_.conductor || phase_ != Phase::Ringing || standCalled_)
        return;
    const bool endOfPair = handstroke_;
    if (stepper_.changesRung() >= settings_.maxChanges ||
        (!stepper_.hasMethod() && endOfPair && rowsRung_ >= 2 * kRoundsPairs)) {
        standCalled_ = true;
        queueCall("Stand");
        return;
    }
    if (settings_.mode == 1)
        conductGoAndStop();
}

void Band::conductGoAndStop()
{
    const bool endOfPair = handstroke_;
    if (!methodStarted_) {
        if (!goCalled_ && endOfPair && rowsRung_ >= 2 * kRoundsPairs) {
            goCalled_ = true;
            queueCall("Go");
        }
    } else if (!inRounds_) {
        if (!thatsAllCalled_ && roundsWithin(kThatsAllRows)) {
            thatsAllCalled_ = true;
            queueCall("That's All");
        }
    } else if (endOfPair && rowsRung_ - roundsReachedAt_ >= 2) {
        standCalled_ = true;
        queueCall("Stand");
    }
}

// Whether the row now rung, or one of the next `rows`, is rounds.
bool Band::roundsWithin(int rows) const
{
    RowStepper ahead = stepper_;
    for (int row = 0; row <= rows; ++row) {
        if (ahead.row() == ahead.rounds())
            return true;
        ahead.advance();
    }
    return false;
}

void Band::touchEnded(Micros now)
{
    ++touchesRung_;
    out_.log("touch " + std::to_string(touchesRung_) + " stands after " + std::to_string(rowsRung_) + " rows");
    if (!settings_.conductor)
        return;
    phase_ = touchesRung_ < settings_.touches ? Phase::Settling : Phase::Done;
    phaseAt_ = now + settings_.startDelay;
}

void Band::logRow()
{
    const std::string& row = stepper_.row();
    const Micros first = strikeTime_[static_cast<std::size_t>(bellOf(row.front()) - 1)];
    std::string line = "row " + std::to_string(rowsRung_ + 1) + (handstroke_ ? " H " : " B ") + row +
                       " at " + millis(first) + " |";
    for (char symbol : row) {
        const Micros offset = strikeTime_[static_cast<std::size_t>(bellOf(symbol) - 1)] - first;
        char part[32];
        std::snprintf(part, sizeof part, " %c:%+lld", symbol, static_cast<long long>(std::llround(offset / 1000.0)));
        line += part;
    }
    out_.log(line);
}

#include "engine/RingingEngine.h"

#include "engine/EngineTexts.h"
#include "method/PlaceNotation.h"
#include "method/StartRow.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

int bellOfSymbol(char symbol)
{
    const auto k = kBellSymbols.find(symbol);
    return k == std::string_view::npos ? 0 : static_cast<int>(k) + 1;
}

char symbolOfBell(int bell)
{
    return kBellSymbols[static_cast<std::size_t>(bell - 1)];
}

bool contains(const std::string& text, char symbol)
{
    return text.find(symbol) != std::string::npos;
}

} // namespace

RingingEngine::RingingEngine(EngineOutput& output, const MethodSettings& settings, const CompiledMethod& method)
    : output(output), settings(settings), method(method)
{
    for (int i = 0; i < kMaxBells; ++i)
        bellTable[static_cast<std::size_t>(i)].number = i + 1;
}

std::string RingingEngine::rounds() const
{
    return roundsOn(bellCount);
}

// ---------------------------------------------------------------------------
// Bell assignment

void RingingEngine::onBellAssignment(const AssignmentEvent& event)
{
    const int count = event.bellCount;
    if (count < 0 || count > kMaxBells) {
        output.showMessage(formatText(text::kTooManyBells, count));
        return;
    }
    setBellCount(count);
    if (event.bells.empty())
        return;

    // Every change is made before any box opens, so that the nested loop of a
    // box never runs with a half-applied assignment.
    const bool own = event.ours;
    std::vector<char> unknown;
    for (char symbol : event.bells) {
        const int bell = bellOfSymbol(symbol);
        if (bell == 0) {
            unknown.push_back(symbol);
            continue;
        }
        BellSlot& slot = bellTable[static_cast<std::size_t>(bell - 1)];
        slot.ownBell = own;
        slot.lastStroke = false;
    }
    updateSpeedDisplay();
    ringing = false;
    // Every bell starts again at handstroke, the person's key too.
    forgetPresses();
    output.killStrikeTimer();
    applyPersonBells();
    showPersonPath();
    for (char symbol : unknown)
        output.showMessage(std::string(text::kUnknownBell) + symbol);
}

void RingingEngine::setBellCount(int count)
{
    // Another tower, or another band: the last touch's pace is not theirs.
    if (count != bellCount)
        lastTouchPaceUs = 0;
    bellCount = count;
    stopIfRowDoesNotFit();
}

// Rows are as long as the tower had bells when they began; a new count makes
// them meaningless, so the ringing stops until the next start.
void RingingEngine::stopIfRowDoesNotFit()
{
    if (ringing && currentRow.size() != static_cast<std::size_t>(bellCount)) {
        ringing = false;
        output.killStrikeTimer();
    }
}

// ---------------------------------------------------------------------------
// Starting and stepping the rows

void RingingEngine::startRinging()
{
    applyPersonBells();
    ringing = true;
    handstroke = true;
    inRounds = true;
    changeInLead = 0;
    changesRung = 0;
    pendingCall = 0;
    currentLead = method.plainLead;
    followingLead = method.plainLead;
    struckBells.clear();
    sentBells.clear();
    sentNextRow.clear();
    stopRequested = false;
    goState = 0;
    currentRow = startRowFor(settings.startChange, bellCount);
    previousRow.clear();
    startTouch();
    startNextLead(true);
    updateSpeedDisplay();
    updateChangeDisplay(true);
    if (bellCount > 0 && robotRings(1)) {
        pendingBell = 1;
        armStrike(strikeInterval);
    } else {
        pendingBell = 0;
    }
    showPersonPath();
}

void RingingEngine::advanceRow(bool stopping)
{
    const auto token = currentLead.find(changeInLead);
    currentRow = applyChange(currentRow, token == currentLead.end() ? std::string() : token->second, bellCount);
    ++changeInLead;
    if (changeInLead >= static_cast<int>(currentLead.size())) {
        startNextLead(false);
    } else if (!method.compositionSteps.empty()) {
        for (const auto& [block, end] : method.blockEnds)
            if (end == changeInLead)
                takeCompositionStep(false);
    }
    if (callStart == changeInLead + 1 && !method.compositionSteps.empty())
        announceCall(pendingCall);
    ++changesRung;
    if (!stopping)
        updateChangeDisplay(false);
}

void RingingEngine::startNextLead(bool first)
{
    changeInLead = 0;
    currentLead = followingLead;
    followingLead = method.plainLead;
    if (!method.compositionSteps.empty())
        takeCompositionStep(first);
    else
        pendingCall = kPlainCall;
}

void RingingEngine::takeCompositionStep(bool first)
{
    const auto steps = method.compositionSteps.size();
    if (first) {
        compositionIndex = 0;
    } else if (++compositionIndex >= steps) {
        compositionIndex = 0;
    }
    const auto step = method.compositionSteps.find(static_cast<int>(compositionIndex));
    pendingCall = step == method.compositionSteps.end() ? kPlainCall : step->second.callKind;
    applyCall();
}

// ---------------------------------------------------------------------------
// Calls

void RingingEngine::onCall(const CallEvent& event)
{
    const std::string& call = event.words;
    if (call == "Here's treble") {
        forgetPresses();
        startRinging();
    } else if (call == "Bob") {
        pendingCall = kBob;
        applyCall();
    } else if (call == "Single") {
        pendingCall = kSingle;
        applyCall();
    } else if (call == "Extreme") {
        pendingCall = kExtreme;
        applyCall();
    } else if (call == "Go") {
        if (settings.goAndStopMode == 1)
            goState = 1;
    } else if (call == "That's All") {
        if (settings.goAndStopMode == 1)
            goState = 2;
    } else if (call == "Stand") {
        stopRequested = true;
    }
    // A call can change the row to come.
    showPersonPath();
}

void RingingEngine::applyCall()
{
    if (const auto start = placeCall(method, pendingCall, changeInLead, currentLead, followingLead))
        callStart = *start;
}

void RingingEngine::announceCall(int kind)
{
    if (kind == kPlainCall)
        return;
    const char* words = kind == kBob ? "Bob" : kind == kSingle ? "Single" : "";
    output.sendCall(words);
    callStart = 0;
}

// ---------------------------------------------------------------------------
// Following the strikes

void RingingEngine::onStrike(StrikeEvent event)
{
    const int bell = event.bell;
    const bool stroke = event.handstroke;
    // A bell the tower does not have would complete a row with a real bell
    // unstruck, and before the bells are assigned there is no tower at all;
    // such a strike must not even start the ringing.
    if (bellCount <= 0 || bell < 0 || bell > bellCount)
        return;

    if (!ringing)
        startRinging();
    if (bell == 0)
        return;
    BellSlot& slot = bellTable[static_cast<std::size_t>(bell - 1)];
    if (stroke == slot.lastStroke)
        return;
    slot.lastStroke = stroke;
    bellStruck(bell - 1, stroke, event.at);
    if (event.stamp)
        measureEchoDelay(bell, *event.stamp, event.at);
}

void RingingEngine::measureEchoDelay(int bell, std::uint16_t stamp, Micros arrived)
{
    if (!bellTable[static_cast<std::size_t>(bell - 1)].ownBell || stamp != strikeCounter)
        return;
    // Whole milliseconds on each side, as a millisecond clock read at both
    // moments would give.
    if (strikeSentAt != 0)
        band.echoHeard(arrived - strikeSentAt);
    const Micros delay = arrived / 1000 - strikeSentAt / 1000;
    if (delay == 0)
        echoDelay = 1;
    else if (delay > 0 && delay < 32767)
        echoDelay = static_cast<int>(delay);
}

void RingingEngine::bellStruck(int index, bool stroke, Micros at)
{
    const char symbol = symbolOfBell(index + 1);
    if (stroke != handstroke || contains(struckBells, symbol))
        return;
    struckBells += symbol;
    heardAt[static_cast<std::size_t>(index)] = at;
    noteBlow(symbol, at);
    bool stopping = false;
    bool rowStarted = false;
    if (struckBells.size() == static_cast<std::size_t>(bellCount)) {
        completeRow(stopping);
        rowStarted = true;
    }
    if (pendingBell == index + 1)
        pendingBell = 0;
    if (stopping) {
        ringing = false;
        forgetPresses();
        showPersonPath();
        reportStriking(true);
        return;
    }
    if (followsRhythm())
        planInRhythm(at);
    else if (pendingBell == 0)
        chooseNextBell(rowStarted);
    // After the timer is armed: judging is never on the way of a strike.
    if (rowStarted) {
        showPersonPath();
        reportStriking(false);
        if (followsRhythm())
            updateSpeedDisplay();
    }
}

// Every blow of the touch, ours by their echoes, feeds the band's rhythm and
// the judging of our striking, where either is wanted.
void RingingEngine::noteBlow(char symbol, Micros at)
{
    // The person's blows are the band's to the rhythm: Tolvane follows them.
    const int bell = bellOfSymbol(symbol);
    const bool own = robotRings(bell);
    const bool followsBand = followsRhythm();
    const bool judged = output.showsStriking();
    if (!followsBand && !judged)
        return;
    const auto position = currentRow.find(symbol);
    if (position == std::string::npos)
        return;
    const int place = static_cast<int>(position) + 1;
    if (followsBand)
        band.blowHeard(rowIndex, place, own, at);
    if (judged) {
        using Ringer = StrikingWatch::Ringer;
        const bool byHand = bellTable[static_cast<std::size_t>(bell - 1)].byHand;
        watch.blowHeard(rowIndex, place, bell, handstroke, own ? Ringer::Own : byHand ? Ringer::Person : Ringer::Band, at);
    }
}

void RingingEngine::completeRow(bool& stopping)
{
    const bool hasMethod = !currentLead.empty();
    previousRow = currentRow;
    if (!inRounds && hasMethod) {
        if (currentRow == rounds()) {
            if (settings.goAndStopMode == 0) {
                stopping = true;
            } else if (goState == 2) {
                goState = 0;
                inRounds = true;
            }
        }
    } else if (!handstroke && (settings.goAndStopMode == 0 || goState == 1)) {
        inRounds = false;
        goState = 0;
        if (hasMethod)
            watch.methodStartsAt(rowIndex + 1);
    }
    if (!inRounds && hasMethod)
        advanceRow(stopping);
    handstroke = !handstroke;
    sentBells = std::move(sentNextRow);
    sentNextRow.clear();
    struckBells.clear();
    for (int bell = 1; bell <= bellCount; ++bell)
        if (bellTable[static_cast<std::size_t>(bell - 1)].lastStroke == handstroke)
            struckBells += symbolOfBell(bell);
    if (handstroke && stopRequested)
        stopping = true;
    ++rowIndex;
}

void RingingEngine::chooseNextBell(bool rowStarted)
{
    const auto position = bellCount > 0 ? currentRow.find_first_not_of(struckBells) : std::string::npos;
    if (position == std::string::npos) {
        output.showMessage(text::kNextBellNotFound);
        return;
    }
    const int bell = bellOfSymbol(currentRow[position]);
    if (bell == 0 || !robotRings(bell)) {
        pendingBell = 0;
        return;
    }
    pendingBell = bellTable[static_cast<std::size_t>(bell - 1)].number;
    output.armStrikeTimer(strikeDelay(handstroke && rowStarted));
}

int RingingEngine::strikeDelay(bool afterGap) const
{
    // The gap before a handstroke row is one interval unless set otherwise.
    const int interval = afterGap ? static_cast<int>(std::lround((1 + rhythmSettings.handstrokeGap) * strikeInterval))
                                  : strikeInterval;
    return std::max(interval, kMinStrikeInterval);
}

// ---------------------------------------------------------------------------
// Striking in the band's rhythm
//
// Each blow goes out a round trip before the rhythm says it is due, which on
// a slow network is before the bells in front have been heard: our next bell
// is planned afresh at every report, from the first of our bells not yet
// heard or sent, in this row or, once all ours in it are on their way, the
// next. Until there is a band rhythm to follow, the bells in front are
// waited for as at the interval rule. A call or "Go" that comes after a blow
// of the next row has gone out does not move that blow.

void RingingEngine::planInRhythm(Micros now)
{
    std::string row = currentRow;
    int rowNumber = rowIndex;
    bool nextRow = false;
    std::size_t position = firstOwnToStrike(currentRow, struckBells + sentBells);
    const bool ahead = band.followsBand();
    if (position == std::string::npos && ahead) {
        if (const auto next = peekNextRow()) {
            row = *next;
            ++rowNumber;
            nextRow = true;
            position = firstOwnToStrike(row, sentNextRow);
        }
    }
    const std::size_t firstUnheard = currentRow.find_first_not_of(struckBells + sentBells);
    if (position == std::string::npos || (!ahead && (nextRow || firstUnheard != position)) ||
        awaitsPerson(row, position, nextRow)) {
        pendingBell = 0;
        pendingInNextRow = false;
        return;
    }
    pendingBell = bellOfSymbol(row[position]);
    pendingInNextRow = nextRow;
    const bool leadsHandstroke = position == 0 && (nextRow ? !handstroke : handstroke);
    const Micros delay = band.delayUs(rowNumber, static_cast<int>(position) + 1, now, frontTime(row, position, nextRow),
                                      ownPaceUs(), leadsHandstroke && rowIndex + nextRow > 0);
    output.armStrikeTimer(static_cast<int>((delay + 500) / 1000));
}

// The row after this one, where it can be known before this one is whole:
// not when the ringing stops at its end.
std::optional<std::string> RingingEngine::peekNextRow() const
{
    // A backstroke row may be the last (a Stand), and the handstroke after it
    // has the gap to spare: only a backstroke is struck ahead.
    if (!handstroke)
        return std::nullopt;
    return rowAfterCurrent();
}

std::optional<std::string> RingingEngine::rowAfterCurrent() const
{
    if (!handstroke && stopRequested)
        return std::nullopt;
    const bool hasMethod = !currentLead.empty();
    bool inMethod = !inRounds && hasMethod;
    if (inMethod && currentRow == rounds()) {
        if (settings.goAndStopMode == 0)
            return std::nullopt;
        if (goState == 2)
            inMethod = false;
    } else if (!inMethod && hasMethod && !handstroke && (settings.goAndStopMode == 0 || goState == 1)) {
        inMethod = true;
    }
    if (!inMethod)
        return currentRow;
    const auto token = currentLead.find(changeInLead);
    return applyChange(currentRow, token == currentLead.end() ? std::string() : token->second, bellCount);
}

std::size_t RingingEngine::firstOwnToStrike(const std::string& row, const std::string& done) const
{
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int bell = bellOfSymbol(row[i]);
        if (bell != 0 && robotRings(bell) && !contains(done, row[i]))
            return i;
    }
    return std::string::npos;
}

// When the bell in front of `position` was heard, or for one struck here and
// not heard yet, when it will be: a round trip after it went out. That bell
// is the one before in the same row, or for the lead of the next row the
// last of this.
std::optional<Micros> RingingEngine::frontTime(const std::string& row, std::size_t position, bool nextRow) const
{
    char front = 0;
    if (!nextRow && position > 0)
        front = row[position - 1];
    else if (nextRow && position == 0 && !currentRow.empty())
        front = currentRow.back();
    if (front == 0)
        return std::nullopt;
    const auto index = static_cast<std::size_t>(bellOfSymbol(front) - 1);
    if (contains(struckBells, front))
        return heardAt[index];
    const bool inNextRow = nextRow && position > 0;
    const bool sentHere = contains(inNextRow ? sentNextRow : sentBells, front);
    const std::size_t hand = handOf(bellOfSymbol(front));
    const bool pressedHere =
        hand != kNoHand && rungByHand(hand) && personStruckIn(rowIndex + (inNextRow ? 1 : 0), hand);
    if (sentHere || pressedHere)
        return sentAt[index] + band.roundTripUs();
    return std::nullopt;
}

// Whether a band bell in front of the pending one, not yet heard, is already
// later than a ringer keeping the rhythm would be.
bool RingingEngine::bandHoldingUp(Micros now) const
{
    const std::size_t end = pendingInNextRow ? currentRow.size() : currentRow.find(symbolOfBell(pendingBell));
    for (std::size_t i = 0; i < end && i < currentRow.size(); ++i) {
        const int bell = bellOfSymbol(currentRow[i]);
        if (bell == 0 || robotRings(bell) || contains(struckBells, currentRow[i]))
            continue;
        if (band.holdingUp(rowIndex, static_cast<int>(i) + 1, now))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Rhythm and striking

void RingingEngine::setRhythm(const RhythmSettings& settings)
{
    nextRhythm = settings;
    nextRhythm.handstrokeGap = std::clamp(nextRhythm.handstrokeGap, 0.0, 2.0);
    nextRhythm.inertia = std::clamp(nextRhythm.inertia, 0.0, RhythmSettings::kMaxInertia);
    // Changing how blows are planned halfway through a row could strike a
    // bell already on its way again; the new rhythm starts with a touch.
    if (!ringing)
        rhythmSettings = nextRhythm;
}

void RingingEngine::startTouch()
{
    // The band is likely to ring the next touch at the pace of the last,
    // rather than at Tolvane's speed setting.
    if (band.intervalUs() > 0)
        lastTouchPaceUs = static_cast<Micros>(band.intervalUs());
    rowIndex = 0;
    rhythmSettings = nextRhythm;
    band = BandRhythm(rhythmSettings);
    pendingInNextRow = false;
    band.startTouch(bellCount, ringsEveryBell());
    watch.startTouch();
}

bool RingingEngine::ringsEveryBell() const
{
    const auto first = bellTable.begin();
    return bellCount > 0 && std::all_of(first, first + bellCount,
                                        [](const BellSlot& slot) { return slot.ownBell && !slot.byHand; });
}

std::string RingingEngine::ownBells() const
{
    std::string bells;
    for (int bell = 1; bell <= bellCount; ++bell) {
        if (!robotRings(bell))
            continue;
        if (!bells.empty())
            bells += ',';
        bells += formatText("%d", bell);
    }
    return bells;
}

void RingingEngine::reportStriking(bool touchEnded)
{
    if (!output.showsStriking() || watch.empty())
        return;
    StrikingSummary summary;
    summary.ownBells = ownBells();
    summary.recent = watch.recent();
    if (touchEnded)
        summary.touch = watch.touch();
    summary.touchEnded = touchEnded;
    if (touchEnded && rungByHand(0) && rungByHand(1))
        summary.chartSvg = watch.chartSvg(formatText("Striking: bells %d and %d rung by hand", hands[0].bell, hands[1].bell));
    else if (touchEnded && (rungByHand(0) || rungByHand(1)))
        summary.chartSvg = watch.chartSvg(formatText("Striking: bell %d rung by hand", hands[rungByHand(0) ? 0 : 1].bell));
    output.showStriking(summary);
}

// ---------------------------------------------------------------------------
// The bell a person rings at the keyboard

bool RingingEngine::robotRings(int bell) const
{
    const BellSlot& slot = bellTable[static_cast<std::size_t>(bell - 1)];
    return slot.ownBell && !slot.byHand;
}

void RingingEngine::setPersonBells(PersonBells bells)
{
    for (int& bell : bells)
        bell = bell >= 1 && bell <= kMaxBells ? bell : 0;
    if (bells[0] == 0 || bells[0] == bells[1])
        bells = {bells[0] == 0 ? bells[1] : bells[0], 0};
    nextPersonBells = bells;
    if (!ringing) {
        applyPersonBells();
        showPersonPath();
    }
}

void RingingEngine::applyPersonBells()
{
    for (std::size_t hand = 0; hand < hands.size(); ++hand)
        hands[hand] = {nextPersonBells[hand]};
    for (int i = 0; i < kMaxBells; ++i) {
        BellSlot& slot = bellTable[static_cast<std::size_t>(i)];
        slot.byHand = slot.ownBell && handOf(i + 1) != kNoHand;
    }
}

std::size_t RingingEngine::handOf(int bell) const
{
    for (std::size_t hand = 0; hand < hands.size(); ++hand)
        if (bell != 0 && hands[hand].bell == bell)
            return hand;
    return kNoHand;
}

bool RingingEngine::rungByHand(std::size_t hand) const
{
    const int bell = hands[hand].bell;
    return bell != 0 && bellTable[static_cast<std::size_t>(bell - 1)].byHand;
}

// Every bell starts again at handstroke, the person's keys too.
void RingingEngine::forgetPresses()
{
    for (HandBell& hand : hands)
        hand.row = -1;
}

void RingingEngine::onKey(const KeyEvent& event)
{
    const auto key = static_cast<std::size_t>(event.key);
    if (key >= keysHeld.size())
        return;
    if (!event.down) {
        if (!event.repeat)
            keysHeld[key] = false;
        return;
    }
    // A key held down repeats; its release may have been lost to another
    // window, but then a fresh press comes without the repeat mark.
    if (event.repeat || keysHeld[key])
        return;
    keysHeld[key] = true;
    // With two bells F is the left hand's and J the right's; with one, every
    // key rings it.
    if (hands[1].bell == 0)
        strikeByHand(event.at, 0);
    else if (event.key != KeyEvent::Key::Space)
        strikeByHand(event.at, event.key == KeyEvent::Key::F ? 0 : 1);
}

// Sent at once, in turn or not: a person may clash as in a tower.
void RingingEngine::strikeByHand(Micros at, std::size_t hand)
{
    if (!rungByHand(hand))
        return;
    HandBell& rung = hands[hand];
    const int row = rowOfPress(at, hand);
    if (row != rung.row) {
        rung.row = row;
        rung.pressedAt = at;
    }
    const bool stroke = row % 2 == 0;
    ++strikeCounter;
    const int delay = echoDelay;
    echoDelay = 0;
    strikeSentAt = at;
    sentAt[static_cast<std::size_t>(rung.bell - 1)] = at;
    output.struckByHand(rung.bell);
    output.sendStrike(bellTable[static_cast<std::size_t>(rung.bell - 1)].number, stroke, strikeCounter, delay);
    // Tolvane's bells behind the person's wait for this press, not its echo.
    if (ringing && followsRhythm() && pendingBell == 0)
        planInRhythm(at);
}

// The row a press is for: the row being rung, or the next once the person's
// bell has had its blow in it and a good part of a row has gone by since,
// as when the echoes lag behind the keys. A press sooner than that (a
// bounce, a nervous double tap) is a stray blow for the row already struck:
// its stroke repeats that row's, so every ringer's count ignores it and the
// next press is in turn again.
int RingingEngine::rowOfPress(Micros at, std::size_t hand) const
{
    const int rung = ringing ? rowIndex : 0;
    if (!personStruckIn(rung, hand))
        return rung;
    const HandBell& pressed = hands[hand];
    const bool struckOnlyHere = pressed.row <= rung;
    const Micros halfRow = intervalHeardUs() * bellCount / 2;
    return struckOnlyHere && at - pressed.pressedAt >= halfRow ? rung + 1 : std::max(pressed.row, rung);
}

// Whether the bell of `hand` has been struck for `row`, the row being rung
// or the one after it: pressed for it, or heard in it.
bool RingingEngine::personStruckIn(int row, std::size_t hand) const
{
    // A press for a row further ahead is from an earlier touch.
    const int pressed = hands[hand].row;
    if (pressed >= row && pressed <= (ringing ? rowIndex : 0) + 1)
        return true;
    return ringing && row == rowIndex && contains(struckBells, symbolOfBell(hands[hand].bell));
}

// Whether a bell the person rings comes before `position` of `row` (the
// next row when `nextRow`) and has not been struck there: Tolvane never
// strikes ahead of it, whatever the rhythm says, and plans again at the
// person's press.
bool RingingEngine::awaitsPerson(const std::string& row, std::size_t position, bool nextRow) const
{
    for (std::size_t hand = 0; hand < hands.size(); ++hand) {
        if (!rungByHand(hand))
            continue;
        if (nextRow && !personStruckIn(rowIndex, hand))
            return true;
        if (row.find(symbolOfBell(hands[hand].bell)) < position && !personStruckIn(rowIndex + (nextRow ? 1 : 0), hand))
            return true;
    }
    return false;
}

// The interval between blows as Tolvane hears it: the band's, once it has
// one to follow, or Tolvane's own.
std::int64_t RingingEngine::intervalHeardUs() const
{
    const double band = followsRhythm() ? this->band.intervalUs() : 0;
    return band > 0 ? static_cast<std::int64_t>(band) : ownPaceUs();
}

// The pace Tolvane keeps with no band rhythm to follow: in the band's
// rhythm, that of the last touch in this tower, else the speed setting's.
std::int64_t RingingEngine::ownPaceUs() const
{
    return followsRhythm() && lastTouchPaceUs > 0 ? lastTouchPaceUs : Micros{strikeInterval} * 1000;
}

void RingingEngine::showPersonPath()
{
    if (hands[0].bell == 0)
        return;
    PersonPath path;
    path.bell = hands[0].bell;
    path.rung = rungByHand(0);
    path.secondBell = hands[1].bell;
    path.secondRung = rungByHand(1);
    path.assigned = std::any_of(bellTable.begin(), bellTable.end(), [](const BellSlot& slot) { return slot.ownBell; });
    path.ringing = ringing;
    path.handstroke = handstroke;
    path.lastRow = previousRow;
    path.currentRow = currentRow;
    if (ringing) {
        path.nextRow = rowAfterCurrent().value_or(std::string());
        path.leadRows = rowsOfCurrentLead();
        path.rowInLead = inRounds ? 0 : changeInLead;
    }
    output.showPersonPath(path);
}

// Changes are their own inverses, so the lead head is found by undoing this
// lead's changes from the current row; in rounds the lead to come is shown.
std::vector<std::string> RingingEngine::rowsOfCurrentLead() const
{
    if (currentLead.empty() || currentRow.size() != static_cast<std::size_t>(bellCount))
        return {};
    const auto change = [&](int index) {
        const auto token = currentLead.find(index);
        return token == currentLead.end() ? std::string() : token->second;
    };
    const int done = inRounds ? 0 : std::min(changeInLead, static_cast<int>(currentLead.size()));
    std::string row = currentRow;
    for (int index = done - 1; index >= 0; --index)
        row = applyChange(row, change(index), bellCount);
    std::vector<std::string> rows{row};
    for (int index = 0; index < static_cast<int>(currentLead.size()); ++index)
        rows.push_back(row = applyChange(row, change(index), bellCount));
    return rows;
}

// ---------------------------------------------------------------------------
// Striking and timing

void RingingEngine::armStrike(int milliseconds)
{
    output.armStrikeTimer(std::max(milliseconds, kMinStrikeInterval));
}

void RingingEngine::strikeOwnBell(Micros now)
{
    if (pendingBell == 0)
        return;
    // A ringer in front who holds up is waited for; their report plans again.
    if (followsRhythm() && bandHoldingUp(now))
        return;
    ++strikeCounter;
    const int number = bellTable[static_cast<std::size_t>(pendingBell - 1)].number;
    const bool stroke = followsRhythm() && pendingInNextRow ? !handstroke : handstroke;
    const int delay = echoDelay;
    echoDelay = 0;
    strikeSentAt = now;
    // Cleared, or the next bell planned, before sending: a failed send shows
    // a box whose nested loop may already choose our next bell.
    sentAt[static_cast<std::size_t>(pendingBell - 1)] = now;
    if (followsRhythm()) {
        (pendingInNextRow ? sentNextRow : sentBells) += symbolOfBell(pendingBell);
        planInRhythm(now);
    } else {
        pendingBell = 0;
    }
    output.sendStrike(number, stroke, strikeCounter, delay);
}

int RingingEngine::intervalFor(int adjustment) const
{
    return (70 * bellCount + 1600 - 50 * adjustment) / bellCount;
}

void RingingEngine::faster(Micros)
{
    // Faster stops where the interval would fall below its floor, so that
    // every step shown is a step the ringing takes.
    if (bellCount > 0 && intervalFor(speedAdjustment + 1) < kMinStrikeInterval) {
        updateSpeedDisplay();
        return;
    }
    setSpeedAdjustment(speedAdjustment + 1);
}

void RingingEngine::slower(Micros)
{
    setSpeedAdjustment(speedAdjustment - 1);
}

void RingingEngine::setSpeedAdjustment(int adjustment)
{
    speedAdjustment = std::clamp(adjustment, -kMaxSpeedAdjustment, kMaxSpeedAdjustment);
    updateSpeedDisplay();
}

void RingingEngine::updateSpeedDisplay()
{
    const int n = bellCount;
    if (n <= 0)
        return;
    // On fewer bells the same adjustment may ask for less than the floor;
    // the floor is what is rung, and the peal speed shows it.
    strikeInterval = std::max(intervalFor(speedAdjustment), kMinStrikeInterval);
    // In the band's rhythm the pace rung is the band's, as Tolvane hears it.
    const double heard = followsRhythm() ? band.intervalUs() / 1000 : 0;
    const long long interval = heard > 0 ? std::llround(heard) : strikeInterval;
    const long long pealMilliseconds = (2LL * n + 1) * interval * 2520;
    const long long seconds = pealMilliseconds / 1000;
    output.showSpeed(formatText("%d", speedAdjustment),
                   formatText("%d hours %d minutes", static_cast<int>(seconds / 3600),
                              static_cast<int>((seconds % 3600) / 60)));
}

void RingingEngine::updateChangeDisplay(bool startForm)
{
    ChangeDisplay display;
    display.changesRung = changesRung;
    display.changeInLead = changeInLead;
    std::string panel = startForm ? currentRow : lastChanges;
    if (changesRung > 8) {
        const auto newline = panel.find('\n');
        if (newline != std::string::npos)
            panel.erase(0, newline + 1);
    }
    panel += "\r\n" + currentRow;
    lastChanges = panel;
    display.lastChanges = panel;
    display.addedRows = startForm ? std::vector<std::string>{currentRow, currentRow}
                                  : std::vector<std::string>{currentRow};
    output.showChanges(display);
}

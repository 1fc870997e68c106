#include "server/RowStepper.h"

#include <algorithm>
#include <climits>

RowStepper::RowStepper(std::shared_ptr<const CompiledMethod> method, int bells)
    : method_(std::move(method)), bells_(bells)
{
}

std::string RowStepper::rounds() const
{
    return std::string(kBellSymbols.substr(0, static_cast<std::size_t>(bells_)));
}

void RowStepper::start()
{
    row_ = rounds();
    changeInLead_ = 0;
    changesRung_ = 0;
    pendingCall_ = kPlainCall;
    currentLead_ = method_->plainLead;
    followingLead_ = method_->plainLead;
    startNextLead(true);
}

int RowStepper::advance()
{
    const auto token = currentLead_.find(changeInLead_);
    row_ = applyChange(row_, token == currentLead_.end() ? std::string() : token->second, bells_);
    ++changeInLead_;
    if (changeInLead_ >= static_cast<int>(currentLead_.size())) {
        startNextLead(false);
    } else if (composing()) {
        for (const auto& [block, end] : method_->blockEnds)
            if (end == changeInLead_)
                takeCompositionStep(false);
    }
    int announce = kPlainCall;
    if (callStart_ == changeInLead_ + 1 && composing() && pendingCall_ != kPlainCall) {
        announce = pendingCall_;
        callStart_ = 0;
    }
    ++changesRung_;
    return announce;
}

void RowStepper::hearCall(int kind)
{
    pendingCall_ = kind;
    applyCall();
}

void RowStepper::startNextLead(bool first)
{
    changeInLead_ = 0;
    currentLead_ = followingLead_;
    followingLead_ = method_->plainLead;
    if (composing())
        takeCompositionStep(first);
    else
        pendingCall_ = kPlainCall;
}

void RowStepper::takeCompositionStep(bool first)
{
    const auto steps = method_->compositionSteps.size();
    compositionIndex_ = first || ++compositionIndex_ >= steps ? 0 : compositionIndex_;
    pendingCall_ = method_->compositionSteps.at(static_cast<int>(compositionIndex_)).callKind;
    applyCall();
}

// Where the call's first change falls in the numbering of the current lead,
// and which changes it writes: the same rule for a call heard and a call of
// the composition.
long long RowStepper::callPosition(const ParsedNotation& call, const ChangeMap*& changes) const
{
    const NotationBlock& first = call.begin()->second;
    const long long lead = static_cast<long long>(method_->plainLead.size());
    const long long count = changeInLead_;
    changes = &first.changes;
    if (call.size() >= 2 || method_->blockEnds.size() >= 2) {
        for (const auto& [j, end] : method_->blockEnds) {
            const NotationBlock& block = call.size() >= 2 ? call.at(j) : first;
            if (count < end + static_cast<long long>(block.shift)) {
                changes = &block.changes;
                return end + block.shift;
            }
        }
        return method_->blockEnds.begin()->second + first.shift + lead;
    }
    const long long position = lead + first.shift;
    return count > position ? position + lead : position;
}

void RowStepper::writeCall(long long position, const ChangeMap& changes)
{
    const long long current = static_cast<long long>(currentLead_.size());
    const long long following = static_cast<long long>(followingLead_.size());
    for (const auto& [index, token] : changes) {
        if (position >= 0 && position < current)
            currentLead_[static_cast<int>(position)] = token;
        else if (position >= current && position < current + following)
            followingLead_[static_cast<int>(position - current)] = token;
        ++position;
    }
}

void RowStepper::applyCall()
{
    if (pendingCall_ <= kPlainCall || pendingCall_ > kExtreme || method_->blockEnds.empty())
        return;
    // An absent call reads as one empty block: it moves the call position only.
    static const ParsedNotation kNoCall{{0, NotationBlock{}}};
    const ParsedNotation& slot = method_->callBlocks[static_cast<std::size_t>(pendingCall_)];
    const bool fits = slot.size() == 1 || (slot.size() >= 2 && slot.size() == method_->blockEnds.size());
    const ParsedNotation& call = fits ? slot : kNoCall;
    const ChangeMap* changes = nullptr;
    const long long position = callPosition(call, changes);
    callStart_ = static_cast<int>(std::clamp<long long>(position, INT_MIN, INT_MAX));
    writeCall(position, *changes);
}

#pragma once

// The band's rows: the start row, one change at a time through working copies
// of the lead, calls written where the client writes them, and the calls of a
// composition. It follows the client's arithmetic step for step, so that the
// band and every client agree on each row.

#include "method/Method.h"

#include <memory>
#include <string>

class RowStepper {
public:
    RowStepper(std::shared_ptr<const CompiledMethod> method, int bells);

    // Back to the start row (rounds) at the first change of a lead.
    void start();
    // Applies the next change. Returns the kind of call the conductor is to
    // announce now (two rows before the first row it changes), 0 for none.
    int advance();
    // A call heard in the tower (kinds 1 to 3) is written into the leads.
    void hearCall(int kind);

    bool hasMethod() const { return !currentLead_.empty(); }
    const std::string& row() const { return row_; }
    std::string rounds() const;
    int changeInLead() const { return changeInLead_; }
    int changesRung() const { return changesRung_; }

private:
    void startNextLead(bool first);
    void takeCompositionStep(bool first);
    void applyCall();
    long long callPosition(const ParsedNotation& call, const ChangeMap*& changes) const;
    void writeCall(long long position, const ChangeMap& changes);
    bool composing() const { return !method_->compositionSteps.empty(); }

    std::shared_ptr<const CompiledMethod> method_;
    int bells_;
    std::string row_;
    int changeInLead_ = 0;
    int changesRung_ = 0;
    ChangeMap currentLead_;
    ChangeMap followingLead_;
    unsigned compositionIndex_ = 0;
    int pendingCall_ = 0;
    int callStart_ = 0;  // kept across starts, as the client keeps it
};

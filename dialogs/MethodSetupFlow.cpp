#include "dialogs/MethodSetupFlow.h"

#include "dialogs/AdvancedMethodDialog.h"
#include "dialogs/MethodSetupDialog.h"

namespace {

MethodSettings chosenInMethodSetup(const MethodSetupDialog& dialog)
{
    // A method picked from the library starts from rounds with no composition.
    MethodSettings chosen;
    chosen.placeNotation = dialog.placeNotation;
    chosen.bobNotation = dialog.bobNotation;
    chosen.singleNotation = dialog.singleNotation;
    chosen.goAndStopMode = dialog.goAndStopIndex;
    return chosen;
}

MethodSettings chosenInAdvanced(const AdvancedMethodDialog& dialog)
{
    MethodSettings chosen;
    chosen.placeNotation = dialog.placeNotation;
    chosen.bobNotation = dialog.bobNotation;
    chosen.singleNotation = dialog.singleNotation;
    chosen.goAndStopMode = dialog.goAndStopIndex;
    chosen.startChange = dialog.startChange;
    chosen.composition = dialog.composition;
    chosen.calling = dialog.calling;
    chosen.observationBell = dialog.observationBell;
    return chosen;
}

} // namespace

std::optional<MethodSettings> advancedSetup(QWidget* parent, const MethodSettings& current,
                                            const std::string& placeNotation,
                                            const std::string& bobNotation,
                                            const std::string& singleNotation, int goAndStopIndex)
{
    AdvancedMethodDialog dialog(parent);
    dialog.placeNotation = placeNotation;
    dialog.bobNotation = bobNotation;
    dialog.singleNotation = singleNotation;
    dialog.goAndStopIndex = goAndStopIndex;
    dialog.startChange = current.startChange;
    dialog.composition = current.composition;
    dialog.calling = current.calling;
    dialog.observationBell = current.observationBell;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return chosenInAdvanced(dialog);
}

std::optional<MethodSettings> runMethodSetup(QWidget* parent, const MethodSettings& current,
                                             const MethodLibrary& library, int towerBells, int highestOwnBell)
{
    // A start change or composition can only be seen and kept in the advanced dialog.
    if (!current.startChange.empty() || !current.composition.empty())
        return advancedSetup(parent, current, current.placeNotation, current.bobNotation,
                             current.singleNotation, current.goAndStopMode);

    MethodSetupDialog dialog(library, parent);
    dialog.placeNotation = current.placeNotation;
    dialog.bobNotation = current.bobNotation;
    dialog.singleNotation = current.singleNotation;
    dialog.goAndStopIndex = current.goAndStopMode;
    dialog.towerBells = towerBells;
    dialog.highestOwnBell = highestOwnBell;
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    if (dialog.advancedRequested)
        return advancedSetup(parent, current, dialog.placeNotation, dialog.bobNotation,
                             dialog.singleNotation, dialog.goAndStopIndex);
    return chosenInMethodSetup(dialog);
}

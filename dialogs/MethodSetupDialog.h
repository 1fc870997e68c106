#pragma once

#include "method/MethodLibrary.h"
#include "method/MethodSearch.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class MethodSetupDialog;
}
class QStringListModel;

// "Method Setup": picks a method of the library by name and a go-and-stop
// mode. The caller fills the fields before running it and reads them after.
class MethodSetupDialog : public QDialog {
    Q_OBJECT

public:
    // REQUIRES: `library` outlives the dialog.
    explicit MethodSetupDialog(const MethodLibrary& library, QWidget* parent = nullptr);
    ~MethodSetupDialog() override;

    // In: the entry shown, -1 for none. Out: the entry chosen.
    int goAndStopIndex = -1;
    // True when the dialog was closed with "Advanced".
    bool advancedRequested = false;
    // In: placeNotation picks the method shown. Out: the chosen method's three
    // notations, all empty when no method is chosen.
    std::string placeNotation;
    std::string bobNotation;
    std::string singleNotation;
    // In: the tower's number of bells and the highest bell Tolvane rings,
    // 0 when not known. Matches at the tower's stage are listed first, and
    // OK on a method that does not fit asks before it takes it.
    int towerBells = 0;
    int highestOwnBell = 0;

    // OK: takes the record the Method field names once settled (see
    // settleMethodField), so what the field shows is what OK uses.
    void accept() override;

protected:
    // The fields are set after construction, so the controls take them on
    // every showing rather than in the constructor.
    void showEvent(QShowEvent* event) override;

private:
    void setUpMethodField();
    // Lists the best matches of the typed text under the field.
    void listMatches(const QString& typed);
    // Typed text that names a record (in any case) chooses it; any other
    // text gives way to the name of the record chosen before.
    void settleMethodField();
    void initialise();
    void fillMethodList();
    void takeChosenMethod();
    // Says why the chosen method does not fit the tower and asks whether to
    // take it all the same; true when it fits or the user takes it.
    bool chosenMethodFits();
    void requestAdvanced();

    std::unique_ptr<Ui::MethodSetupDialog> ui;
    const MethodLibrary& library;
    MethodSearch search;
    QStringListModel* matches;
};

#include "dialogs/AdvancedMethodDialog.h"
#include "dialogs/MethodSetupDialog.h"
#include "dialogs/MethodSetupFlow.h"
#include "ModalDriver.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

const QStringList kGoAndStopEntries{"Handstroke, backstroke, start merhod, stop at rounds",
                                    "Start on Go, stop at rounds after That's All"};

MethodLibrary libraryOf(const std::vector<MethodDef>& records)
{
    MethodLibrary library;
    for (const MethodDef& record : records)
        library.add(record);
    return library;
}

// Records named by their index, each with its own bob and single.
MethodLibrary libraryWithNotations(const QList<QByteArray>& notations)
{
    MethodLibrary library;
    for (int i = 0; i < notations.size(); ++i) {
        const std::string n = std::to_string(i);
        library.add({"Method " + n, notations[i].toStdString(), "bob " + n, "single " + n});
    }
    return library;
}

const MethodLibrary kLibrary = libraryOf({
    {"Plain Bob Minor", "x16x16x16-12", "14", "1234"},
    {"Grandsire Doubles", "3.1.5.1.5.1.5.1.5.1", "3.1", "3.123"},
    {"St Cl\xE9ment's", "x36x14x12x36.14.58", "14", "1234"},
});

QComboBox* combo(QWidget* dialog, const char* name) { return dialog->findChild<QComboBox*>(name); }
QLineEdit* edit(QWidget* dialog, const char* name) { return dialog->findChild<QLineEdit*>(name); }
void click(QWidget* dialog, const char* name) { dialog->findChild<QPushButton*>(name)->click(); }

QStringList entriesOf(QComboBox* list)
{
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->itemText(i);
    return entries;
}

MethodSettings settings(std::string place, std::string bob, std::string single, int mode,
                        std::string startChange = {}, std::string composition = {})
{
    MethodSettings result;
    result.placeNotation = std::move(place);
    result.bobNotation = std::move(bob);
    result.singleNotation = std::move(single);
    result.goAndStopMode = mode;
    result.startChange = std::move(startChange);
    result.composition = std::move(composition);
    return result;
}

} // namespace

class MethodSetupTest : public QObject {
    Q_OBJECT

private slots:
    // Method Setup on its own.
    void listsEveryRecordInLibraryOrder();
    void preselectsTheLastEqualRecord_data();
    void preselectsTheLastEqualRecord();
    void goAndStopListsShowTheGivenEntry_data();
    void goAndStopListsShowTheGivenEntry();
    void typedNameInAnyCaseIsWhatOkUses();
    void textThatNamesNoRecordGivesWayWhenTheFieldIsLeft();
    void typingListsRecordsByAnyPartOfTheirName_data();
    void typingListsRecordsByAnyPartOfTheirName();
    void aNamePickedFromTheListIsChosen();
    void theTowersStageIsListedFirst();
    void aMethodThatDoesNotFitTheTowerIsQueried_data();
    void aMethodThatDoesNotFitTheTowerIsQueried();

    // Advanced Method Setup on its own.
    void advancedKeepsTheBytesOfEveryField();
    void callingFillsTheCompositionAndShowsTheProof();
    void callingThatCannotBeExpandedHoldsOk();
    void compositionTypedIsProved();

    // The whole flow.
    void okInMethodSetupStartsFromRounds();
    void cancelInMethodSetupChangesNothing();
    void advancedCarriesTheChoiceOver();
    void cancelInAdvancedDropsTheChoice();
    void startChangeOrCompositionGoesStraightToAdvanced_data();
    void startChangeOrCompositionGoesStraightToAdvanced();
};

void MethodSetupTest::listsEveryRecordInLibraryOrder()
{
    MethodSetupDialog dialog(kLibrary);
    dialog.show();
    QComboBox* methods = combo(&dialog, "methodList");
    QVERIFY(methods->isEditable());
    QCOMPARE(methods->insertPolicy(), QComboBox::NoInsert);
    QCOMPARE(entriesOf(methods),
             (QStringList{"Plain Bob Minor", "Grandsire Doubles", QStringLiteral("St Cl\u00E9ment's")}));
    for (int i = 0; i < methods->count(); ++i)
        QCOMPARE(methods->itemData(i), QVariant(i));
}

void MethodSetupTest::preselectsTheLastEqualRecord_data()
{
    QTest::addColumn<QList<QByteArray>>("notations");
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<int>("expected");
    QTest::newRow("one equal") << QList<QByteArray>{"a", "b", "c"} << QByteArray("b") << 1;
    QTest::newRow("last of equals") << QList<QByteArray>{"x", "y", "x", "z"} << QByteArray("x") << 2;
    QTest::newRow("none equal") << QList<QByteArray>{"a", "b"} << QByteArray("c") << -1;
    QTest::newRow("case differs") << QList<QByteArray>{"X"} << QByteArray("x") << -1;
    QTest::newRow("prefix only") << QList<QByteArray>{"x1"} << QByteArray("x") << -1;
    QTest::newRow("empty current") << QList<QByteArray>{"a", "b"} << QByteArray() << -1;
    QTest::newRow("empty current, empty record")
        << QList<QByteArray>{"a", "", "b"} << QByteArray() << 1;
    QTest::newRow("empty library") << QList<QByteArray>{} << QByteArray("a") << -1;
}

void MethodSetupTest::preselectsTheLastEqualRecord()
{
    QFETCH(QList<QByteArray>, notations);
    QFETCH(QByteArray, current);
    QFETCH(int, expected);
    const MethodLibrary library = libraryWithNotations(notations);
    MethodSetupDialog dialog(library);
    dialog.placeNotation = current.toStdString();
    dialog.show();
    QComboBox* methods = combo(&dialog, "methodList");
    QCOMPARE(methods->currentIndex(), expected);
    QCOMPARE(methods->currentText(), expected < 0 ? QString() : methods->itemText(expected));
}

void MethodSetupTest::goAndStopListsShowTheGivenEntry_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("stop at rounds") << 0;
    QTest::newRow("start on Go") << 1;
    QTest::newRow("none") << -1;
}

void MethodSetupTest::goAndStopListsShowTheGivenEntry()
{
    QFETCH(int, index);
    MethodSetupDialog setup(kLibrary);
    setup.goAndStopIndex = index;
    AdvancedMethodDialog advanced;
    advanced.goAndStopIndex = index;
    for (QDialog* dialog : {static_cast<QDialog*>(&setup), static_cast<QDialog*>(&advanced)}) {
        dialog->show();
        QComboBox* list = combo(dialog, "goAndStopList");
        QVERIFY(!list->isEditable());
        QCOMPARE(entriesOf(list), kGoAndStopEntries);
        QCOMPARE(list->currentIndex(), index);
    }
}

void MethodSetupTest::typedNameInAnyCaseIsWhatOkUses()
{
    MethodSetupDialog dialog(kLibrary);
    dialog.goAndStopIndex = 0;
    dialog.show();
    combo(&dialog, "methodList")->setCurrentIndex(1);
    combo(&dialog, "methodList")->lineEdit()->setText("plain bob minor");
    combo(&dialog, "goAndStopList")->setCurrentIndex(1);
    click(&dialog, "okButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.advancedRequested);
    QCOMPARE(dialog.placeNotation, std::string("x16x16x16-12"));
    QCOMPARE(dialog.bobNotation, std::string("14"));
    QCOMPARE(dialog.singleNotation, std::string("1234"));
    QCOMPARE(dialog.goAndStopIndex, 1);
    QCOMPARE(combo(&dialog, "methodList")->lineEdit()->text(), QString("Plain Bob Minor"));
}

void MethodSetupTest::textThatNamesNoRecordGivesWayWhenTheFieldIsLeft()
{
    MethodSetupDialog dialog(kLibrary);
    dialog.show();
    QComboBox* field = combo(&dialog, "methodList");
    field->setCurrentIndex(1);
    for (const char* typed : {"Plain Bob Minor Extra", "bob", ""}) {
        field->lineEdit()->setText(typed);
        emit field->lineEdit()->editingFinished();
        QCOMPARE(field->lineEdit()->text(), QString("Grandsire Doubles"));
        QCOMPARE(field->currentIndex(), 1);
    }
    field->lineEdit()->setText("no such method");
    click(&dialog, "okButton");
    QCOMPARE(dialog.placeNotation, std::string("3.1.5.1.5.1.5.1.5.1"));
    QCOMPARE(field->lineEdit()->text(), QString("Grandsire Doubles"));
}

void MethodSetupTest::typingListsRecordsByAnyPartOfTheirName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("middle of a name") << "bob" << QStringList{"Plain Bob Minor"};
    QTest::newRow("other case") << "CL" << QStringList{"St Cl\u00e9ment's"};
    // Best first: a title that starts with the text.
    QTest::newRow("several") << "s" << QStringList{"St Cl\u00e9ment's", "Grandsire Doubles"};
    QTest::newRow("accent in other case") << "CL\u00c9" << QStringList{"St Cl\u00e9ment's"};
}

void MethodSetupTest::typingListsRecordsByAnyPartOfTheirName()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, listed);
    MethodSetupDialog dialog(kLibrary);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox* field = combo(&dialog, "methodList");
    field->lineEdit()->clear();
    QTest::keyClicks(field->lineEdit(), typed);
    QCompleter* completer = field->completer();
    QVERIFY(completer->popup()->isVisible());
    QStringList shown;
    for (int row = 0; row < completer->completionModel()->rowCount(); ++row)
        shown << completer->completionModel()->index(row, 0).data().toString();
    QCOMPARE(shown, listed);
}

void MethodSetupTest::aNamePickedFromTheListIsChosen()
{
    MethodSetupDialog dialog(kLibrary);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox* field = combo(&dialog, "methodList");
    field->setCurrentIndex(0);
    field->lineEdit()->clear();
    QTest::keyClicks(field->lineEdit(), "cl");
    QAbstractItemView* popup = field->completer()->popup();
    QVERIFY(popup->isVisible());
    QTest::keyClick(popup, Qt::Key_Down);
    QTest::keyClick(popup, Qt::Key_Return);
    QCOMPARE(field->currentIndex(), 2);
    QCOMPARE(field->lineEdit()->text(), QString("St Cl\u00e9ment's"));
    click(&dialog, "okButton");
    QCOMPARE(dialog.placeNotation, std::string("x36x14x12x36.14.58"));
}

void MethodSetupTest::theTowersStageIsListedFirst()
{
    MethodSetupDialog dialog(kLibrary);
    dialog.towerBells = 5;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox* field = combo(&dialog, "methodList");
    field->lineEdit()->clear();
    QTest::keyClicks(field->lineEdit(), "s");
    QAbstractItemModel* listed = field->completer()->completionModel();
    QCOMPARE(listed->rowCount(), 2);
    QCOMPARE(listed->index(0, 0).data().toString(), QStringLiteral("Grandsire Doubles"));
}

void MethodSetupTest::aMethodThatDoesNotFitTheTowerIsQueried_data()
{
    QTest::addColumn<int>("towerBells");
    QTest::addColumn<int>("highestOwnBell");
    QTest::addColumn<int>("record");
    QTest::addColumn<QString>("said");  // empty: taken without a word
    QTest::newRow("fits") << 6 << 6 << 0 << QString();
    QTest::newRow("unknown tower") << 0 << 0 << 2 << QString();
    QTest::newRow("more bells than the tower") << 6 << 2 << 2 << "is rung on 8 bells, but this tower has 6";
    QTest::newRow("leaves Tolvane's bell out") << 6 << 6 << 1 << "is rung on 5 bells, but Tolvane rings bell 6";
}

// Asked before OK takes it: No leaves the dialog open with nothing taken, Yes takes it.
void MethodSetupTest::aMethodThatDoesNotFitTheTowerIsQueried()
{
    QFETCH(int, towerBells);
    QFETCH(int, highestOwnBell);
    QFETCH(int, record);
    QFETCH(QString, said);
    MethodSetupDialog dialog(kLibrary);
    dialog.towerBells = towerBells;
    dialog.highestOwnBell = highestOwnBell;
    dialog.show();
    combo(&dialog, "methodList")->setCurrentIndex(record);
    QStringList asked;
    const auto answer = [&](QMessageBox::StandardButton button) {
        whenModal<QMessageBox>([&asked, button](QMessageBox* box) {
            asked << box->text();
            QCOMPARE(box->textFormat(), Qt::PlainText);
            box->button(button)->click();
        });
    };
    if (!said.isEmpty()) {
        answer(QMessageBox::No);
        click(&dialog, "okButton");
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.placeNotation.empty());
        answer(QMessageBox::Yes);
    }
    click(&dialog, "okButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.placeNotation, kLibrary.methodAt(record)->placeNotation);
    QCOMPARE(asked.size(), said.isEmpty() ? 0 : 2);
    if (!said.isEmpty())
        QVERIFY2(asked[0].contains(said), qPrintable(asked[0]));
}

void MethodSetupTest::advancedKeepsTheBytesOfEveryField()
{
    const std::string longComposition(40000, '-');
    AdvancedMethodDialog dialog;
    dialog.placeNotation = "x1\xE9x";
    dialog.bobNotation = "\xA0\x96";
    dialog.singleNotation = "\xFF";
    dialog.startChange = "2143";
    dialog.composition = longComposition;
    dialog.goAndStopIndex = 1;
    dialog.show();
    QCOMPARE(edit(&dialog, "placeNotationEdit")->text(), QStringLiteral("x1\u00E9x"));
    edit(&dialog, "startChangeEdit")->setText(QStringLiteral("13\u00F824"));
    click(&dialog, "okButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.placeNotation, std::string("x1\xE9x"));
    QCOMPARE(dialog.bobNotation, std::string("\xA0\x96"));
    QCOMPARE(dialog.singleNotation, std::string("\xFF"));
    QCOMPARE(dialog.startChange, std::string("13\xF8" "24"));
    QCOMPARE(dialog.composition, longComposition);
    QCOMPARE(dialog.goAndStopIndex, 1);
}

void MethodSetupTest::callingFillsTheCompositionAndShowsTheProof()
{
    AdvancedMethodDialog dialog;
    dialog.placeNotation = "x18x18x18x18,12";
    dialog.bobNotation = "14";
    dialog.singleNotation = "1234";
    dialog.composition = "bpp";
    dialog.show();
    edit(&dialog, "callingEdit")->setText("W sH");
    QLineEdit* composition = edit(&dialog, "compositionEdit");
    QCOMPARE(composition->text(), QString("bppppps"));
    QVERIFY(composition->isReadOnly());
    QCOMPARE(dialog.findChild<QLabel*>("touchLabel")->text(), QString("448 changes in 4 parts, true"));
    click(&dialog, "okButton");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.composition, std::string("bppppps"));
    QCOMPARE(dialog.calling, std::string("W sH"));
    QCOMPARE(dialog.observationBell, 0);
}

void MethodSetupTest::callingThatCannotBeExpandedHoldsOk()
{
    AdvancedMethodDialog dialog;
    dialog.placeNotation = "3.1.5.1.5.1.5.1.5.1";
    dialog.bobNotation = "3.1";
    dialog.composition = "-b-";
    dialog.calling = "M";
    dialog.show();
    QVERIFY(!dialog.findChild<QPushButton*>("okButton")->isEnabled());
    QCOMPARE(dialog.findChild<QLabel*>("touchLabel")->text(),
             QString("Position M (call 1) is never reached: bell 5 does not come to 4ths at a bob"));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.isVisible());

    // Without the calling, the composition typed before comes back as it was.
    edit(&dialog, "callingEdit")->clear();
    QCOMPARE(edit(&dialog, "compositionEdit")->text(), QString("-b-"));
    QVERIFY(!edit(&dialog, "compositionEdit")->isReadOnly());
    QVERIFY(dialog.findChild<QPushButton*>("okButton")->isEnabled());
}

void MethodSetupTest::compositionTypedIsProved()
{
    AdvancedMethodDialog dialog;
    dialog.placeNotation = "x16x16x16,12";
    dialog.bobNotation = "14";
    dialog.singleNotation = "1234";
    dialog.show();
    QLabel* touch = dialog.findChild<QLabel*>("touchLabel");
    QCOMPARE(touch->text(), QString("60 changes, true"));
    QTest::keyClicks(edit(&dialog, "compositionEdit"), "bs");
    QCOMPARE(touch->text(), QString("108 changes, false: 123564 is the first row rung twice"));
    QVERIFY(dialog.findChild<QPushButton*>("okButton")->isEnabled());
}

void MethodSetupTest::okInMethodSetupStartsFromRounds()
{
    const MethodSettings current = settings("x16x16x16-12", "14", "1234", 1);
    whenModal<MethodSetupDialog>([](MethodSetupDialog* dialog) {
        QCOMPARE(combo(dialog, "methodList")->currentIndex(), 0);
        QCOMPARE(combo(dialog, "goAndStopList")->currentIndex(), 1);
        click(dialog, "okButton");
    });
    QCOMPARE(runMethodSetup(nullptr, current, kLibrary), std::optional(current));

    // Nothing chosen: three empty notations, still a confirmed setup.
    whenModal<MethodSetupDialog>([](MethodSetupDialog* dialog) {
        combo(dialog, "methodList")->setCurrentIndex(-1);
        click(dialog, "okButton");
    });
    QCOMPARE(runMethodSetup(nullptr, current, kLibrary), std::optional(settings("", "", "", 1)));
}

void MethodSetupTest::cancelInMethodSetupChangesNothing()
{
    whenModal<MethodSetupDialog>([](MethodSetupDialog* dialog) {
        combo(dialog, "methodList")->setCurrentIndex(2);
        click(dialog, "cancelButton");
    });
    QCOMPARE(runMethodSetup(nullptr, settings("a", "b", "c", 0), kLibrary), std::nullopt);
}

void MethodSetupTest::advancedCarriesTheChoiceOver()
{
    whenModal<MethodSetupDialog>([](MethodSetupDialog* dialog) {
        combo(dialog, "methodList")->setCurrentIndex(1);
        combo(dialog, "goAndStopList")->setCurrentIndex(1);
        click(dialog, "advancedButton");
    });
    whenModal<AdvancedMethodDialog>([](AdvancedMethodDialog* dialog) {
        QCOMPARE(edit(dialog, "placeNotationEdit")->text(), QString("3.1.5.1.5.1.5.1.5.1"));
        QCOMPARE(edit(dialog, "bobEdit")->text(), QString("3.1"));
        QCOMPARE(edit(dialog, "singleEdit")->text(), QString("3.123"));
        QCOMPARE(combo(dialog, "goAndStopList")->currentIndex(), 1);
        QVERIFY(edit(dialog, "startChangeEdit")->text().isEmpty());
        QVERIFY(edit(dialog, "compositionEdit")->text().isEmpty());
        edit(dialog, "compositionEdit")->setText("-s-");
        click(dialog, "okButton");
    });
    QCOMPARE(runMethodSetup(nullptr, settings("x16x16x16-12", "14", "1234", 0), kLibrary),
             std::optional(settings("3.1.5.1.5.1.5.1.5.1", "3.1", "3.123", 1, "", "-s-")));
}

void MethodSetupTest::cancelInAdvancedDropsTheChoice()
{
    whenModal<MethodSetupDialog>([](MethodSetupDialog* dialog) {
        combo(dialog, "methodList")->setCurrentIndex(1);
        click(dialog, "advancedButton");
    });
    whenModal<AdvancedMethodDialog>(
        [](AdvancedMethodDialog* dialog) { click(dialog, "cancelButton"); });
    QCOMPARE(runMethodSetup(nullptr, settings("x16x16x16-12", "14", "1234", 0), kLibrary),
             std::nullopt);
}

void MethodSetupTest::startChangeOrCompositionGoesStraightToAdvanced_data()
{
    QTest::addColumn<QByteArray>("startChange");
    QTest::addColumn<QByteArray>("composition");
    QTest::newRow("start change") << QByteArray("2143") << QByteArray();
    QTest::newRow("composition") << QByteArray() << QByteArray("-s-");
    QTest::newRow("both") << QByteArray("2143") << QByteArray("p");
}

void MethodSetupTest::startChangeOrCompositionGoesStraightToAdvanced()
{
    QFETCH(QByteArray, startChange);
    QFETCH(QByteArray, composition);
    const MethodSettings current = settings("x16x16x16-12", "14", "1234", 1,
                                            startChange.toStdString(), composition.toStdString());
    whenModal<AdvancedMethodDialog>([&](AdvancedMethodDialog* dialog) {
        QCOMPARE(edit(dialog, "placeNotationEdit")->text(), QString("x16x16x16-12"));
        QCOMPARE(edit(dialog, "startChangeEdit")->text(), QString::fromLatin1(startChange));
        QCOMPARE(edit(dialog, "compositionEdit")->text(), QString::fromLatin1(composition));
        QCOMPARE(combo(dialog, "goAndStopList")->currentIndex(), 1);
        click(dialog, "okButton");
    });
    QCOMPARE(runMethodSetup(nullptr, current, kLibrary), std::optional(current));
}

QTEST_MAIN(MethodSetupTest)
#include "MethodSetupTest.moc"

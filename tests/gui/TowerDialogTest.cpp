#include "dialogs/TowerDialog.h"
#include "ModalDriver.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

QTreeWidget* listOf(TowerDialog& dialog)
{
    return dialog.findChild<QTreeWidget*>("towerListView");
}

QPoint centreOfRow(TowerDialog& dialog, int row)
{
    QTreeWidget* list = listOf(dialog);
    return list->visualItemRect(list->topLevelItem(row)).center();
}

// A double-click as a mouse makes it: the first click, then the double-click
// event in place of the second press.
void doubleClick(QWidget* widget, QPoint position)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, position);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, position);
}

// Expects the tower request box from the OK handling and dismisses it.
void expectTowerRequest(QStringList& shown)
{
    whenModal<QMessageBox>([&shown](QMessageBox* box) {
        QCOMPARE(box->textFormat(), Qt::PlainText);
        shown << box->text();
        box->accept();
    });
}

const TowerList kThreeTowers{{"Elm", "Oak frame"}, {"Ash", "Ground floor"}, {"Beech", "Eight"}};

} // namespace

class TowerDialogTest : public QObject {
    Q_OBJECT

private slots:
    void listsTowersInMapOrderWithTheirColumns();

    void okWithoutSelectionAsksForATower_data();
    void okWithoutSelectionAsksForATower();
    void currentRowIsNotASelection();
    void theOnlyTowerIsChosenAlready();

    void confirmsTheClickedRow();
    void doubleClickOnEmptySpaceConfirmsTheMarkedRow();
    void doubleClickOnARowConfirmsIt();
    void selectionMarkOutlastsAClearedSelection();
    void enterRunsTheOkHandling();

    void returnsTheReceivedBytesOfALatin1Name();
};

void TowerDialogTest::listsTowersInMapOrderWithTheirColumns()
{
    TowerDialog dialog(kThreeTowers);
    QTreeWidget* list = listOf(dialog);
    QVERIFY(list);
    QCOMPARE(dialog.windowTitle(), QString("Join a Tower"));
    QCOMPARE(list->headerItem()->text(0), QString("Tower Name"));
    QCOMPARE(list->headerItem()->text(1), QString("Description"));
    QCOMPARE(list->columnWidth(0), 100);
    QCOMPARE(list->columnWidth(1), 200);
    const QStringList names{"Ash", "Beech", "Elm"};
    const QStringList descriptions{"Ground floor", "Eight", "Oak frame"};
    QCOMPARE(list->topLevelItemCount(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(list->topLevelItem(row)->text(0), names[row]);
        QCOMPARE(list->topLevelItem(row)->text(1), descriptions[row]);
    }
}

void TowerDialogTest::okWithoutSelectionAsksForATower_data()
{
    QTest::addColumn<bool>("withTowers");
    QTest::newRow("towers listed") << true;
    QTest::newRow("empty list") << false;
}

void TowerDialogTest::okWithoutSelectionAsksForATower()
{
    QFETCH(bool, withTowers);
    TowerDialog dialog(withTowers ? kThreeTowers : TowerList{});
    dialog.show();
    QVERIFY(listOf(dialog)->selectedItems().isEmpty());
    QStringList shown;
    expectTowerRequest(shown);
    dialog.findChild<QPushButton*>("okButton")->click();
    QCOMPARE(shown, QStringList{"Please select a tower"});
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.selectedTower.empty());
}

void TowerDialogTest::currentRowIsNotASelection()
{
    // Focus makes a row current without the user choosing it.
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    QTreeWidget* list = listOf(dialog);
    list->setFocus();
    list->selectionModel()->setCurrentIndex(list->model()->index(0, 0),
                                             QItemSelectionModel::NoUpdate);
    QCOMPARE(list->currentItem(), list->topLevelItem(0));
    QStringList shown;
    expectTowerRequest(shown);
    dialog.accept();
    QCOMPARE(shown.size(), 1);
    QVERIFY(dialog.isVisible());
}

void TowerDialogTest::confirmsTheClickedRow()
{
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    QTest::mouseClick(listOf(dialog)->viewport(), Qt::LeftButton, {}, centreOfRow(dialog, 1));
    dialog.findChild<QPushButton*>("okButton")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Beech"));
}

void TowerDialogTest::doubleClickOnEmptySpaceConfirmsTheMarkedRow()
{
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QWidget* viewport = listOf(dialog)->viewport();
    const QPoint belowRows(10, viewport->height() - 4);
    QVERIFY(listOf(dialog)->itemAt(belowRows) == nullptr);

    QTest::mouseClick(viewport, Qt::LeftButton, {}, centreOfRow(dialog, 2));
    doubleClick(viewport, belowRows);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Elm"));
}

void TowerDialogTest::doubleClickOnARowConfirmsIt()
{
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    doubleClick(listOf(dialog)->viewport(), centreOfRow(dialog, 0));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Ash"));
}

void TowerDialogTest::selectionMarkOutlastsAClearedSelection()
{
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    QTreeWidget* list = listOf(dialog);
    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);
    list->clearSelection();
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Beech"));
}

void TowerDialogTest::theOnlyTowerIsChosenAlready()
{
    TowerDialog dialog(TowerList{{"Ash", "Six bells"}});
    dialog.show();
    QCOMPARE(listOf(dialog)->selectedItems().size(), 1);
    dialog.findChild<QPushButton*>("okButton")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Ash"));
}

void TowerDialogTest::enterRunsTheOkHandling()
{
    TowerDialog dialog(kThreeTowers);
    dialog.show();
    QTreeWidget* list = listOf(dialog);
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(2));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedTower, std::string("Elm"));
}

void TowerDialogTest::returnsTheReceivedBytesOfALatin1Name()
{
    const std::string name = "Saint-\xC9tienne \x96\xFF";
    TowerDialog dialog(TowerList{{"Abbey", ""}, {name, "Cath\xE9" "drale"}});
    dialog.show();
    QTreeWidget* list = listOf(dialog);
    QCOMPARE(list->topLevelItem(1)->text(0), QString::fromLatin1(name.c_str()));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("Cath\u00E9drale"));
    list->setCurrentItem(list->topLevelItem(1));
    dialog.accept();
    QCOMPARE(dialog.selectedTower, name);
}

QTEST_MAIN(TowerDialogTest)
#include "TowerDialogTest.moc"

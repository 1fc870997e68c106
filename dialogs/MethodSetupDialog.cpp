#include "dialogs/MethodSetupDialog.h"

#include "dialogs/Latin1.h"
#include "method/Calling.h"
#include "method/Method.h"
#include "ui_MethodSetupDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QMessageBox>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QStringListModel>

#include <algorithm>

namespace {

// Enough to choose from; more is typing a few more letters.
constexpr std::size_t kListedMatches = 50;
// Matches looked through for those at the tower's stage.
constexpr std::size_t kSearchedMatches = 4 * kListedMatches;

}  // namespace

MethodSetupDialog::MethodSetupDialog(const MethodLibrary& library, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::MethodSetupDialog>()), library(library), search(library),
      matches(new QStringListModel(this))
{
    ui->setupUi(this);
    // Sized by a typical title, not by measuring tens of thousands of them.
    ui->methodList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ui->methodList->setMinimumContentsLength(32);
    connect(ui->okButton, &QPushButton::clicked, this, &MethodSetupDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &MethodSetupDialog::reject);
    connect(ui->advancedButton, &QPushButton::clicked, this, &MethodSetupDialog::requestAdvanced);
    setUpMethodField();
}

void MethodSetupDialog::setUpMethodField()
{
    // Too many methods to scroll through: typing lists the records whose
    // title, stage or class hold the words typed, best first.
    auto* completer = new QCompleter(matches, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    completer->setMaxVisibleItems(ui->methodList->maxVisibleItems());
    ui->methodList->setCompleter(completer);
    connect(ui->methodList->lineEdit(), &QLineEdit::textEdited, this, &MethodSetupDialog::listMatches);
    connect(ui->methodList->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        // Enter on a listed name finishes the edit before the pick is taken.
        if (!ui->methodList->completer()->popup()->isVisible())
            settleMethodField();
    });
}

void MethodSetupDialog::listMatches(const QString& typed)
{
    std::vector<int> found = search.find(latin1Bytes(typed), towerBells > 0 ? kSearchedMatches : kListedMatches);
    if (towerBells > 0)
        std::stable_partition(found.begin(), found.end(),
                              [&](int record) { return stageOf(*library.methodAt(record)) == towerBells; });
    found.resize(std::min(found.size(), kListedMatches));
    QStringList titles;
    for (int record : found)
        titles << latin1Text(library.methodAt(record)->name);
    matches->setStringList(titles);
    QCompleter* completer = ui->methodList->completer();
    if (titles.isEmpty()) {
        completer->popup()->hide();
        return;
    }
    completer->setCompletionPrefix(QString());
    completer->complete();
}

void MethodSetupDialog::settleMethodField()
{
    QComboBox* field = ui->methodList;
    const QString typed = field->lineEdit()->text();
    if (typed != field->itemText(field->currentIndex())) {
        // Fixed-string matching ignores case.
        if (const int named = field->findText(typed, Qt::MatchFixedString); named >= 0)
            field->setCurrentIndex(named);
    }
    field->lineEdit()->setText(field->itemText(field->currentIndex()));
}

MethodSetupDialog::~MethodSetupDialog() = default;

void MethodSetupDialog::showEvent(QShowEvent* event)
{
    // A spontaneous show is the window system restoring the window, not an opening.
    if (!event->spontaneous())
        initialise();
    QDialog::showEvent(event);
}

void MethodSetupDialog::initialise()
{
    ui->goAndStopList->setCurrentIndex(goAndStopIndex);
    fillMethodList();
    advancedRequested = false;
}

void MethodSetupDialog::fillMethodList()
{
    // Built whole and handed over at once: tens of thousands of items added
    // one by one would each tell the field.
    QList<QStandardItem*> items;
    items.reserve(static_cast<qsizetype>(library.size()));
    int selection = -1;
    for (const auto& [recordNumber, record] : library) {
        auto* item = new QStandardItem(latin1Text(record.name));
        item->setData(recordNumber, Qt::UserRole);
        items << item;
        // With several equal records the last one wins.
        if (record.placeNotation == placeNotation)
            selection = static_cast<int>(items.size()) - 1;
    }
    // Owned by the field, which deletes the one it replaces.
    auto* model = new QStandardItemModel(ui->methodList);
    if (!items.isEmpty())
        model->appendColumn(items);
    ui->methodList->setModel(model);
    // Setting the field's model hands it to the completer too; it lists matches.
    ui->methodList->completer()->setModel(matches);
    ui->methodList->setCurrentIndex(selection);
}

void MethodSetupDialog::takeChosenMethod()
{
    const QVariant recordNumber = ui->methodList->currentData();
    bool isNumber = false;
    const int number = recordNumber.toInt(&isNumber);
    const MethodDef* record = isNumber ? library.methodAt(number) : nullptr;
    placeNotation = record ? record->placeNotation : std::string();
    bobNotation = record ? record->bobNotation : std::string();
    singleNotation = record ? record->singleNotation : std::string();
}

bool MethodSetupDialog::chosenMethodFits()
{
    const QVariant recordNumber = ui->methodList->currentData();
    const MethodDef* record = recordNumber.isValid() ? library.methodAt(recordNumber.toInt()) : nullptr;
    if (!record)
        return true;
    const int stage = stageOf(*record);
    QString problem;
    if (towerBells > 0 && stage > towerBells)
        problem = tr("%1 is rung on %2 bells, but this tower has %3.").arg(latin1Text(record->name)).arg(stage).arg(towerBells);
    else if (highestOwnBell > 0 && stage < highestOwnBell)
        problem = tr("%1 is rung on %2 bells, but Tolvane rings bell %3, which it leaves out.")
                      .arg(latin1Text(record->name)).arg(stage).arg(highestOwnBell);
    if (problem.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, windowTitle(), problem + tr("\n\nTake it all the same?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("methodMisfitBox"));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MethodSetupDialog::accept()
{
    settleMethodField();
    if (!chosenMethodFits()) {
        advancedRequested = false;
        return;
    }
    takeChosenMethod();
    goAndStopIndex = ui->goAndStopList->currentIndex();
    QDialog::accept();
}

void MethodSetupDialog::requestAdvanced()
{
    advancedRequested = true;
    accept();
}

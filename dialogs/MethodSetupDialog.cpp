#include "dialogs/MethodSetupDialog.h"

#include "dialogs/Latin1.h"
#include "ui_MethodSetupDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QShowEvent>

MethodSetupDialog::MethodSetupDialog(const MethodLibrary& library, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::MethodSetupDialog>()), library(library)
{
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &MethodSetupDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &MethodSetupDialog::reject);
    connect(ui->advancedButton, &QPushButton::clicked, this, &MethodSetupDialog::requestAdvanced);
    setUpMethodField();
}

void MethodSetupDialog::setUpMethodField()
{
    // Too many methods to scroll through: typing lists every record whose
    // name holds the text anywhere, in any case.
    QCompleter* completer = ui->methodList->completer();
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    connect(ui->methodList->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        // Enter on a listed name finishes the edit before the pick is taken.
        if (!ui->methodList->completer()->popup()->isVisible())
            settleMethodField();
    });
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
    ui->methodList->clear();
    int selection = -1;
    for (const auto& [recordNumber, record] : library) {
        ui->methodList->addItem(latin1Text(record.name), recordNumber);
        // With several equal records the last one wins.
        if (record.placeNotation == placeNotation)
            selection = ui->methodList->count() - 1;
    }
    // The first item added becomes current on its own; undo that when no
    // record matches.
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

void MethodSetupDialog::accept()
{
    settleMethodField();
    takeChosenMethod();
    goAndStopIndex = ui->goAndStopList->currentIndex();
    QDialog::accept();
}

void MethodSetupDialog::requestAdvanced()
{
    advancedRequested = true;
    accept();
}

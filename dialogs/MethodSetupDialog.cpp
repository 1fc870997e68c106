#include "dialogs/MethodSetupDialog.h"

#include "dialogs/Latin1.h"
#include "ui_MethodSetupDialog.h"

#include <QShowEvent>

MethodSetupDialog::MethodSetupDialog(const MethodLibrary& library, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::MethodSetupDialog>()), library(library)
{
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &MethodSetupDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &MethodSetupDialog::reject);
    connect(ui->advancedButton, &QPushButton::clicked, this, &MethodSetupDialog::requestAdvanced);
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
    takeChosenMethod();
    goAndStopIndex = ui->goAndStopList->currentIndex();
    QDialog::accept();
}

void MethodSetupDialog::requestAdvanced()
{
    advancedRequested = true;
    accept();
}

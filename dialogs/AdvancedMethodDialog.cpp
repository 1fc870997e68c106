#include "dialogs/AdvancedMethodDialog.h"

#include "dialogs/Latin1.h"
#include "ui_AdvancedMethodDialog.h"

#include <QShowEvent>

AdvancedMethodDialog::AdvancedMethodDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AdvancedMethodDialog>())
{
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &AdvancedMethodDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &AdvancedMethodDialog::reject);
}

AdvancedMethodDialog::~AdvancedMethodDialog() = default;

void AdvancedMethodDialog::showEvent(QShowEvent* event)
{
    // A spontaneous show is the window system restoring the window, not an opening.
    if (!event->spontaneous())
        showFields();
    QDialog::showEvent(event);
}

void AdvancedMethodDialog::showFields()
{
    ui->placeNotationEdit->setText(latin1Text(placeNotation));
    ui->bobEdit->setText(latin1Text(bobNotation));
    ui->singleEdit->setText(latin1Text(singleNotation));
    ui->goAndStopList->setCurrentIndex(goAndStopIndex);
    ui->startChangeEdit->setText(latin1Text(startChange));
    ui->compositionEdit->setText(latin1Text(composition));
}

void AdvancedMethodDialog::readFields()
{
    placeNotation = latin1Bytes(ui->placeNotationEdit->text());
    bobNotation = latin1Bytes(ui->bobEdit->text());
    singleNotation = latin1Bytes(ui->singleEdit->text());
    goAndStopIndex = ui->goAndStopList->currentIndex();
    startChange = latin1Bytes(ui->startChangeEdit->text());
    composition = latin1Bytes(ui->compositionEdit->text());
}

void AdvancedMethodDialog::accept()
{
    readFields();
    QDialog::accept();
}

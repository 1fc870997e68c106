#include "dialogs/AdvancedMethodDialog.h"

#include "dialogs/Latin1.h"
#include "method/Calling.h"
#include "ui_AdvancedMethodDialog.h"

#include <QShowEvent>

AdvancedMethodDialog::AdvancedMethodDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AdvancedMethodDialog>())
{
    ui->setupUi(this);
    connect(ui->okButton, &QPushButton::clicked, this, &AdvancedMethodDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &AdvancedMethodDialog::reject);
    for (QLineEdit* edit : {ui->placeNotationEdit, ui->bobEdit, ui->singleEdit, ui->startChangeEdit, ui->callingEdit})
        connect(edit, &QLineEdit::textChanged, this, &AdvancedMethodDialog::showTouch);
    // Only the user's edits: the calling's expansion is written into this field too.
    connect(ui->compositionEdit, &QLineEdit::textEdited, this, &AdvancedMethodDialog::showTouch);
    connect(ui->observationList, &QComboBox::currentIndexChanged, this, &AdvancedMethodDialog::showTouch);
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
    typedComposition = composition;
    showingCalling = false;
    ui->callingEdit->setText(latin1Text(calling));
    ui->observationList->setCurrentIndex(observationBell >= 0 && observationBell <= kMaxBells ? observationBell : 0);
    showTouch();
}

MethodSettings AdvancedMethodDialog::typedSettings() const
{
    MethodSettings typed;
    typed.placeNotation = latin1Bytes(ui->placeNotationEdit->text());
    typed.bobNotation = latin1Bytes(ui->bobEdit->text());
    typed.singleNotation = latin1Bytes(ui->singleEdit->text());
    typed.goAndStopMode = ui->goAndStopList->currentIndex();
    typed.startChange = latin1Bytes(ui->startChangeEdit->text());
    typed.composition = latin1Bytes(ui->compositionEdit->text());
    typed.calling = latin1Bytes(ui->callingEdit->text());
    typed.observationBell = ui->observationList->currentIndex();
    return typed;
}

void AdvancedMethodDialog::showTouch()
{
    MethodSettings typed = typedSettings();
    const bool callingGiven = hasCalling(typed);
    if (!showingCalling)
        typedComposition = typed.composition;
    else if (!callingGiven)
        ui->compositionEdit->setText(latin1Text(typedComposition));
    showingCalling = callingGiven;
    typed.composition = typedComposition;
    const TouchPlan plan = planTouch(typed);
    if (callingGiven)
        ui->compositionEdit->setText(latin1Text(plan.error.empty() ? plan.composition : std::string()));
    ui->compositionEdit->setReadOnly(callingGiven);
    ui->okButton->setEnabled(plan.error.empty());
    ui->touchLabel->setText(latin1Text(describeTouch(typed, plan)));
}

void AdvancedMethodDialog::readFields()
{
    placeNotation = latin1Bytes(ui->placeNotationEdit->text());
    bobNotation = latin1Bytes(ui->bobEdit->text());
    singleNotation = latin1Bytes(ui->singleEdit->text());
    goAndStopIndex = ui->goAndStopList->currentIndex();
    startChange = latin1Bytes(ui->startChangeEdit->text());
    composition = latin1Bytes(ui->compositionEdit->text());
    calling = latin1Bytes(ui->callingEdit->text());
    observationBell = ui->observationList->currentIndex();
}

void AdvancedMethodDialog::accept()
{
    // A calling that cannot be expanded changes nothing, however OK is reached.
    if (!ui->okButton->isEnabled())
        return;
    readFields();
    QDialog::accept();
}

#include "dialogs/OptionsDialog.h"

#include "dialogs/Latin1.h"
#include "ui_OptionsDialog.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include <algorithm>
#include <cmath>

namespace {

// Host names and dotted addresses only: what cannot be a host is never typed.
const QRegularExpression kHostPattern(QStringLiteral("[A-Za-z0-9._-]{0,253}"));

constexpr int kBellCount = 12;

// "Bell 4", and for the bells written with a letter or nought "Bell 10 (0)".
QString bellName(int bell)
{
    static const char kSymbols[] = "1234567890ET";
    const QString name = QObject::tr("Bell %1").arg(bell);
    return bell < 10 ? name : QStringLiteral("%1 (%2)").arg(name, QString(QLatin1Char(kSymbols[bell - 1])));
}

// The tenor's notes offered, low to high: octaves 3 to 6, as bells are named.
QStringList tenorNotes()
{
    const QStringList names{"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    QStringList notes;
    for (int octave = 3; octave <= 6; ++octave)
        for (const QString& name : names)
            notes.append(name + QString::number(octave));
    return notes;
}

} // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::OptionsDialog>())
{
    ui->setupUi(this);
    personNoteText = ui->personNote->text();
    alignFieldColumns();
    ui->hostEdit->setValidator(new QRegularExpressionValidator(kHostPattern, ui->hostEdit));
    ui->rhythmList->addItem(tr("Interval: one interval after the bell before"));
    ui->rhythmList->addItem(tr("Band: in the band's rhythm"));
    ui->personBellList->addItem(tr("None: Tolvane rings all its bells"));
    ui->secondBellList->addItem(tr("None: one bell"));
    for (int bell = 1; bell <= kBellCount; ++bell) {
        ui->personBellList->addItem(bellName(bell));
        ui->secondBellList->addItem(bellName(bell));
    }
    connect(ui->personBellList, &QComboBox::currentIndexChanged, this, [this] { showSecondBellChoice(); });
    connect(ui->secondBellList, &QComboBox::currentIndexChanged, this, [this] { showSecondBellChoice(); });
    ui->tenorNoteList->addItems(tenorNotes());
    connect(ui->buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::askForServerOnly()
{
    setWindowTitle(tr("Choose a Server"));
    ui->rhythmGroup->hide();
    ui->personGroup->hide();
    ui->soundGroup->hide();
    ui->reconnectBox->hide();
    ui->serverNote->setText(tr("Tolvane connects to this server now, and at every start when no -l, -t, -d or "
                               "--server is given. Change it later under Options (right-click the window)."));
}

// The fields of every group start at one edge.
void OptionsDialog::alignFieldColumns()
{
    const QList<QLabel*> labels{ui->hostLabel, ui->portLabel, ui->rhythmLabel, ui->handstrokeGapLabel,
                                ui->inertiaLabel, ui->personBellLabel, ui->secondBellLabel, ui->volumeLabel, ui->tenorNoteLabel};
    int width = 0;
    for (const QLabel* label : labels)
        width = std::max(width, label->sizeHint().width());
    for (QLabel* label : labels)
        label->setMinimumWidth(width);
}

void OptionsDialog::showEvent(QShowEvent* event)
{
    // A spontaneous show is the window system restoring the window, not an opening.
    if (!event->spontaneous())
        showFields();
    QDialog::showEvent(event);
}

void OptionsDialog::showFields()
{
    ui->hostEdit->setText(latin1Text(serverHost));
    ui->hostEdit->setPlaceholderText(latin1Text(defaultServerHost));
    ui->portBox->setValue(serverPort);
    ui->reconnectBox->setChecked(reconnect);
    ui->rhythmList->setCurrentIndex(rhythm.rhythm == RhythmSettings::Rhythm::Band ? 1 : 0);
    ui->handstrokeGapBox->setValue(rhythm.handstrokeGap);
    ui->inertiaBox->setValue(rhythm.inertia);
    shownGap = ui->handstrokeGapBox->value();
    shownInertia = ui->inertiaBox->value();
    const auto shownBell = [](int bell) { return bell >= 1 && bell <= kBellCount ? bell : 0; };
    ui->personBellList->setCurrentIndex(shownBell(personBells[0]));
    ui->secondBellList->setCurrentIndex(shownBell(personBells[0]) != 0 ? shownBell(personBells[1]) : 0);
    showSecondBellChoice();
    ui->soundCheck->setChecked(sound.on);
    ui->volumeSlider->setValue(static_cast<int>(std::lround(sound.volume * ui->volumeSlider->maximum())));
    shownVolume = ui->volumeSlider->value();
    // A saved note spelt otherwise ("Db5") is offered as it is.
    const QString note = latin1Text(sound.tenorNote);
    if (ui->tenorNoteList->findText(note) < 0)
        ui->tenorNoteList->addItem(note);
    ui->tenorNoteList->setCurrentText(note);
}

void OptionsDialog::readFields()
{
    serverHost = latin1Bytes(ui->hostEdit->text());
    serverPort = ui->portBox->value();
    reconnect = ui->reconnectBox->isChecked();
    rhythm.rhythm = ui->rhythmList->currentIndex() == 1 ? RhythmSettings::Rhythm::Band
                                                         : RhythmSettings::Rhythm::Interval;
    // A box shows its value rounded: one the user left alone is handed back
    // exactly as it came, so that OK alone changes nothing.
    if (ui->handstrokeGapBox->value() != shownGap)
        rhythm.handstrokeGap = ui->handstrokeGapBox->value();
    if (ui->inertiaBox->value() != shownInertia)
        rhythm.inertia = ui->inertiaBox->value();
    personBells = {ui->personBellList->currentIndex(),
                   ui->personBellList->currentIndex() != 0 ? ui->secondBellList->currentIndex() : 0};
    sound.on = ui->soundCheck->isChecked();
    if (ui->volumeSlider->value() != shownVolume)
        sound.volume = static_cast<double>(ui->volumeSlider->value()) / ui->volumeSlider->maximum();
    sound.tenorNote = latin1Bytes(ui->tenorNoteList->currentText());
}

// A second bell only beside a first, and never the same one: said at once,
// and OK waits until it is put right.
void OptionsDialog::showSecondBellChoice()
{
    const int first = ui->personBellList->currentIndex();
    ui->secondBellList->setEnabled(first != 0);
    const bool same = first != 0 && ui->secondBellList->currentIndex() == first;
    ui->personNote->setText(same ? tr("Your two bells must be different: choose another second bell, or none.")
                                 : personNoteText);
    ui->buttons->button(QDialogButtonBox::Ok)->setEnabled(!same);
}

void OptionsDialog::accept()
{
    if (!ui->buttons->button(QDialogButtonBox::Ok)->isEnabled())
        return;
    readFields();
    QDialog::accept();
}

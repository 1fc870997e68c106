#include "dialogs/OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

namespace {

template <class T>
T* control(OptionsDialog& dialog, const char* name)
{
    return dialog.findChild<T*>(name);
}

void fill(OptionsDialog& dialog)
{
    dialog.serverHost = "tower.example";
    dialog.serverPort = 4000;
    dialog.rhythm = {RhythmSettings::Rhythm::Band, 0.5, 0.25};
    dialog.personBells = {11, 0};
}

} // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheFieldsAndHandsBackTheControlsOnOk()
    {
        OptionsDialog dialog;
        fill(dialog);
        dialog.show();
        QCOMPARE(control<QLineEdit>(dialog, "hostEdit")->text(), QStringLiteral("tower.example"));
        QCOMPARE(control<QSpinBox>(dialog, "portBox")->value(), 4000);
        QCOMPARE(control<QComboBox>(dialog, "rhythmList")->currentIndex(), 1);
        QCOMPARE(control<QDoubleSpinBox>(dialog, "handstrokeGapBox")->value(), 0.5);
        QCOMPARE(control<QDoubleSpinBox>(dialog, "inertiaBox")->value(), 0.25);
        QCOMPARE(control<QComboBox>(dialog, "personBellList")->currentText(), QStringLiteral("Bell 11 (E)"));

        control<QLineEdit>(dialog, "hostEdit")->clear();
        control<QComboBox>(dialog, "rhythmList")->setCurrentIndex(0);
        control<QDoubleSpinBox>(dialog, "handstrokeGapBox")->setValue(5);  // held to 2
        control<QDoubleSpinBox>(dialog, "inertiaBox")->setValue(1);         // held to 0.9: 1 would freeze the rhythm
        control<QComboBox>(dialog, "personBellList")->setCurrentIndex(0);
        dialog.accept();
        QCOMPARE(dialog.serverHost, std::string());
        QCOMPARE(dialog.rhythm.rhythm, RhythmSettings::Rhythm::Interval);
        QCOMPARE(dialog.rhythm.handstrokeGap, 2.0);
        QCOMPARE(dialog.rhythm.inertia, RhythmSettings::kMaxInertia);
        QCOMPARE(dialog.personBells, (PersonBells{0, 0}));
    }

    // A second bell needs a first, and may not be it: OK waits, and says why.
    void aSecondBellRoundTripsAndTheSameBellTwiceIsRefused()
    {
        OptionsDialog dialog;
        dialog.personBells = {5, 6};
        dialog.show();
        auto* first = control<QComboBox>(dialog, "personBellList");
        auto* second = control<QComboBox>(dialog, "secondBellList");
        QCOMPARE(second->currentText(), QStringLiteral("Bell 6"));
        second->setCurrentIndex(5);
        QVERIFY(dialog.isVisible());
        dialog.accept();
        QVERIFY2(dialog.isVisible(), "OK refused with the same bell twice");
        QCOMPARE(dialog.personBells, (PersonBells{5, 6}));
        QVERIFY(dialog.findChild<QLabel*>("personNote")->text().contains("different"));

        second->setCurrentIndex(4);
        dialog.accept();
        QCOMPARE(dialog.personBells, (PersonBells{5, 4}));
        dialog.show();
        first->setCurrentIndex(0);
        QVERIFY(!second->isEnabled());
        dialog.accept();
        QCOMPARE(dialog.personBells, (PersonBells{0, 0}));
    }

    void soundFieldsRoundTrip()
    {
        OptionsDialog dialog;
        dialog.sound = {true, 0.5, "Db5"};  // a spelling the list does not offer is kept
        dialog.show();
        QVERIFY(control<QCheckBox>(dialog, "soundCheck")->isChecked());
        QCOMPARE(control<QSlider>(dialog, "volumeSlider")->value(), 50);
        QCOMPARE(control<QComboBox>(dialog, "tenorNoteList")->currentText(), QStringLiteral("Db5"));
        dialog.accept();
        QCOMPARE(dialog.sound.tenorNote, std::string("Db5"));

        dialog.show();
        control<QCheckBox>(dialog, "soundCheck")->setChecked(false);
        control<QSlider>(dialog, "volumeSlider")->setValue(100);
        control<QComboBox>(dialog, "tenorNoteList")->setCurrentText(QStringLiteral("C4"));
        dialog.accept();
        QCOMPARE(dialog.sound.on, false);
        QCOMPARE(dialog.sound.volume, 1.0);
        QCOMPARE(dialog.sound.tenorNote, std::string("C4"));
    }

    // The slider and boxes hold rounded values: OK with nothing touched must
    // not round what was shown, or every OK would change the sound and rhythm.
    void valuesAcceptedUntouchedComeBackExactly()
    {
        OptionsDialog dialog;
        dialog.sound = {true, 0.337, "C4"};
        dialog.rhythm = {RhythmSettings::Rhythm::Band, 0.333, 0.4567};
        for (int opening = 0; opening < 2; ++opening) {
            dialog.show();
            dialog.accept();
            QCOMPARE(dialog.sound.volume, 0.337);
            QCOMPARE(dialog.rhythm.handstrokeGap, 0.333);
            QCOMPARE(dialog.rhythm.inertia, 0.4567);
        }
    }

    void cancelLeavesTheFields()
    {
        OptionsDialog dialog;
        fill(dialog);
        dialog.show();
        control<QSpinBox>(dialog, "portBox")->setValue(80);
        dialog.reject();
        QCOMPARE(dialog.serverPort, 4000);
    }

    void onlyHostCharactersCanBeTyped()
    {
        OptionsDialog dialog;
        dialog.show();
        QLineEdit* host = control<QLineEdit>(dialog, "hostEdit");
        QTest::keyClicks(host, "ring ing.example:80");
        QCOMPARE(host->text(), QStringLiteral("ringing.example80"));
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"

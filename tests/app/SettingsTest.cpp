// The saved settings file: what is saved is what loads, OK in the options
// dialog saves only what the user changed there, and the first start asks
// for the server. Every case runs against a settings file of its own.

#include "ModalDriver.h"
#include "TestPeer.h"

#include "app/RingerApp.h"
#include "app/RingerDialog.h"
#include "app/SettingsFile.h"
#include "dialogs/OptionsDialog.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class SettingsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home;

    QString fileName() const { return home.filePath("tolvane/tolvane.conf"); }

    void writeFile(const QByteArray& text)
    {
        QDir(home.path()).mkpath("tolvane");
        QFile file(fileName());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    // Qt reads the folder once per process, before any settings are touched.
    void initTestCase()
    {
        QVERIFY(home.isValid());
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    }

    void init() { QFile::remove(fileName()); }

    void whatIsSavedLoadsBackFieldForField()
    {
        SavedSettings written;
        written.serverHost = "tower.example";
        written.serverPort = 4001;
        written.rhythm = RhythmSettings::Rhythm::Band;
        written.handstrokeGap = 0.75;
        written.inertia = 0.3;
        written.reconnect = true;
        written.sound = true;
        written.soundVolume = 0.337;  // finer than the slider's steps
        written.tenorNote = "Db5";
        saveSettings(written);
        const LoadedSettings loaded = loadSettings();
        QCOMPARE(loaded.problems, std::vector<std::string>());
        QCOMPARE(loaded.settings.serverHost, written.serverHost);
        QCOMPARE(loaded.settings.serverPort, written.serverPort);
        QCOMPARE(loaded.settings.rhythm, written.rhythm);
        QCOMPARE(loaded.settings.handstrokeGap, written.handstrokeGap);
        QCOMPARE(loaded.settings.inertia, written.inertia);
        QCOMPARE(loaded.settings.reconnect, written.reconnect);
        QCOMPARE(loaded.settings.sound, written.sound);
        QCOMPARE(loaded.settings.soundVolume, written.soundVolume);
        QCOMPARE(loaded.settings.tenorNote, written.tenorNote);
    }

    void badValuesAreSaidAsWrittenAndAnEmptyHostRemovesTheServer()
    {
        writeFile("[server]\nhost=\nport=4000\n[rhythm]\nhandstrokeGap=1,5\n");
        const LoadedSettings loaded = loadSettings();
        QCOMPARE(loaded.problems, std::vector<std::string>{"ignoring the saved rhythm/handstrokeGap '1,5'"});
        QVERIFY(!loaded.settings.serverHost);
    }

    // The run's --rhythm band and --handstroke-gap 0 are shown in the dialog;
    // the user changes the inertia alone, and only that reaches the file.
    // A single bell is kept as the number it always was, so that an older
    // file and this one read each other; two as "5,6"; two the same are left out.
    void thePersonsBellsRoundTripAndASavedSingleBellStillReads()
    {
        writeFile("[person]\nbell=6\n");
        QCOMPARE(loadSettings().settings.personBells, std::optional(PersonBells{6, 0}));

        SavedSettings written;
        written.personBells = PersonBells{5, 6};
        saveSettings(written);
        QCOMPARE(loadSettings().settings.personBells, written.personBells);
        written.personBells = PersonBells{4, 0};
        saveSettings(written);
        QCOMPARE(loadSettings().settings.personBells, written.personBells);
        QFile file(fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("bell=4\n"));

        writeFile("[person]\nbell=5,5\n");
        const LoadedSettings loaded = loadSettings();
        QCOMPARE(loaded.settings.personBells, std::optional<PersonBells>());
        QCOMPARE(loaded.problems, std::vector<std::string>{"ignoring the saved person/bell '5,5'"});
    }

    void okSavesWhatTheUserChangedNotTheRunsOverrides()
    {
        writeFile("[server]\nhost=tower.example\nport=4000\n[rhythm]\nhandstrokeGap=1.5\n");
        Options options;
        options.rhythm = RhythmSettings::Rhythm::Band;
        options.handstrokeGap = 0.0;
        options.inertia = 0.333;
        RingerDialog window(options);
        window.prepare();
        whenModal<OptionsDialog>([](OptionsDialog* dialog) {
            dialog->findChild<QDoubleSpinBox*>("inertiaBox")->setValue(0.8);
            dialog->accept();
        });
        window.editOptions();
        const SavedSettings saved = loadSettings().settings;
        QCOMPARE(saved.serverHost, std::optional<std::string>("tower.example"));
        QCOMPARE(saved.serverPort, 4000);
        QVERIFY(!saved.rhythm);
        QCOMPARE(saved.handstrokeGap, std::optional(1.5));
        QCOMPARE(saved.inertia, std::optional(0.8));
        QVERIFY(!saved.reconnect);
        // The run takes the change and keeps its own values for the rest.
        QCOMPARE(window.rhythmSettings().rhythm, RhythmSettings::Rhythm::Band);
        QCOMPARE(window.rhythmSettings().handstrokeGap, 0.0);
        QCOMPARE(window.rhythmSettings().inertia, 0.8);
    }

    void theFirstStartAsksForTheServerAndKeepsIt()
    {
        Options options;
        bool onlyServer = false;
        whenModal<OptionsDialog>([&](OptionsDialog* dialog) {
            // Any other group shown would be a choice thrown away.
            const auto groups = dialog->findChildren<QGroupBox*>();
            onlyServer = !groups.isEmpty() && std::all_of(groups.begin(), groups.end(), [](QGroupBox* group) {
                return group->isHidden() == (group->objectName() != QStringLiteral("serverGroup"));
            });
            QCOMPARE(dialog->findChild<QLineEdit*>("hostEdit")->text(), QStringLiteral("localhost"));
            dialog->findChild<QLineEdit*>("hostEdit")->setText("club.example");
            dialog->findChild<QSpinBox*>("portBox")->setValue(4002);
            dialog->accept();
        });
        QVERIFY(askForFirstServer(options));
        QVERIFY(onlyServer);
        QCOMPARE(options.serverHost, std::string("club.example"));
        QCOMPARE(options.serverPort, 4002);
        const SavedSettings saved = loadSettings().settings;
        QCOMPARE(saved.serverHost, std::optional<std::string>("club.example"));
        QCOMPARE(saved.serverPort, 4002);
    }

    // The first start saved a server where none runs: the window offers to
    // change it rather than failing at every start. One the command line
    // chose is its own to change.
    void aFailedConnectOffersAnotherServer_data()
    {
        QTest::addColumn<bool>("serverChosen");
        QTest::addColumn<bool>("giveServer");
        QTest::newRow("another given") << false << true;
        QTest::newRow("offer declined") << false << false;
        QTest::newRow("chosen on the command line") << true << false;
    }

    void aFailedConnectOffersAnotherServer()
    {
        QFETCH(bool, serverChosen);
        QFETCH(bool, giveServer);
        TestPeer running;
        const int downPort = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            return probe.serverPort();
        }();
        Options options;
        options.serverHost = "127.0.0.1";
        options.serverPort = downPort;
        options.serverChosen = serverChosen;
        RingerDialog window(options);
        QStringList boxes;
        int offers = 0;
        QTimer answer;  // answers whatever opens, so that a wrong turn fails rather than hangs
        connect(&answer, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes << box->text();
                box->accept();
            } else if (auto* dialog = qobject_cast<OptionsDialog*>(modal)) {
                ++offers;
                QCOMPARE(dialog->findChild<QSpinBox*>("portBox")->value(), downPort);
                dialog->findChild<QSpinBox*>("portBox")->setValue(running.port());
                giveServer ? dialog->accept() : dialog->reject();
            }
        });
        answer.start(10);
        window.start();
        QVERIFY(QTest::qWaitFor([&] { return !boxes.isEmpty(); }, 5000));
        QCOMPARE(boxes, QStringList{QStringLiteral("Connection to server failed\n127.0.0.1, port %1: refused").arg(downPort)});
        if (giveServer) {
            QVERIFY(running.accept());
            QVERIFY(window.controller().running());
            QCOMPARE(loadSettings().settings.serverPort, running.port());
        } else {
            QVERIFY(QTest::qWaitFor([&] { return !window.controller().running(); }, 5000));
            QCOMPARE(window.exitCode(), 1);
            QVERIFY(!QFile::exists(fileName()));
        }
        QCOMPARE(offers, serverChosen ? 0 : 1);
    }

    void cancelAtTheFirstStartSavesNothing()
    {
        Options options;
        whenModal<OptionsDialog>([](OptionsDialog* dialog) { dialog->reject(); });
        QVERIFY(!askForFirstServer(options));
        QVERIFY(!QFile::exists(fileName()));
    }
};

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"

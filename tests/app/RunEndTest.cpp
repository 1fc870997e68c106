// The end of the run closes every window the program has open, whichever
// window is on top when it comes; and the boxes keep their one-at-a-time
// rule over the dialogs they interrupt.

#include "ModalDriver.h"
#include "TestPeer.h"

#include "app/RingerDialog.h"
#include "dialogs/MethodSetupDialog.h"
#include "dialogs/TowerDialog.h"

#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

Options optionsFor(int port)
{
    Options options;
    options.serverHost = "127.0.0.1";
    options.serverPort = port;
    return options;
}

int visibleWindows()
{
    int open = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        open += window->isVisible() ? 1 : 0;
    return open;
}

int openBoxes()
{
    int boxes = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(window) && window->isVisible())
            ++boxes;
    return boxes;
}

std::string unexpected(int type)
{
    NetMessage message;
    message.init(8, type, 1);
    return message.bytes();
}

// Runs the window's loop, as the program does, with a watchdog: when the
// loop is still running after the bound, every window is closed so that the
// test fails instead of hanging.
struct RunResult {
    bool endedByItself = false;
    int windowsLeft = 0;
};

RunResult runWindow(RingerDialog& window)
{
    bool watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        watchdogFired = true;
        for (QWidget* open : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(open); dialog && dialog->isVisible())
                dialog->done(QDialog::Rejected);
    });
    watchdog.start(10000);
    window.exec();
    return {!watchdogFired, visibleWindows()};
}

void acceptNextBox(QStringList* seen = nullptr)
{
    whenModal<QMessageBox>([seen](QMessageBox* box) {
        if (seen)
            *seen << box->text();
        box->accept();
    });
}

} // namespace

class RunEndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestPeer> peer;
    std::unique_ptr<RingerDialog> window;

    void connectWindow()
    {
        peer = std::make_unique<TestPeer>();
        window = std::make_unique<RingerDialog>(optionsFor(peer->port()));
        window->start();
        QVERIFY(peer->accept());
        QVERIFY(peer->next());  // the greeting
    }

private slots:
    void cleanup()
    {
        window.reset();
        peer.reset();
    }

    void aLostConnectionClosesTheTowerChoice()
    {
        connectWindow();
        QStringList seen;
        whenModal<TowerDialog>([&](TowerDialog*) {
            peer->close();
            acceptNextBox(&seen);
        });
        peer->send(makeTowerEntry(1, "Ash", ""));
        const RunResult run = runWindow(*window);
        QVERIFY(run.endedByItself);
        QCOMPARE(run.windowsLeft, 0);
        QCOMPARE(seen, QStringList{"Connection to Server Lost."});
        QCOMPARE(window->exitCode(), 1);  // no tower was joined
    }

    void cancelInASecondTowerChoiceClosesTheFirst()
    {
        connectWindow();
        TowerDialog* first = nullptr;
        std::function<void(TowerDialog*)> second = [&](TowerDialog* dialog) {
            if (dialog == first) {
                whenModal<TowerDialog>(second);
                return;
            }
            dialog->reject();
        };
        whenModal<TowerDialog>([&](TowerDialog* dialog) {
            first = dialog;
            peer->send(makeTowerEntry(1, "Ash", ""));  // the whole list again
            whenModal<TowerDialog>(second);
        });
        peer->send(makeTowerEntry(1, "Ash", ""));
        const RunResult run = runWindow(*window);
        QVERIFY(run.endedByItself);
        QCOMPARE(run.windowsLeft, 0);
        QCOMPARE(window->exitCode(), 1);
    }

    void aLostConnectionClosesMethodSetup()
    {
        connectWindow();
        QTimer::singleShot(0, window.get(), [&] { window->findChild<QPushButton*>("setMethodButton")->click(); });
        QWidget* boxParent = nullptr;
        MethodSetupDialog* setup = nullptr;
        whenModal<MethodSetupDialog>([&](MethodSetupDialog* dialog) {
            setup = dialog;
            peer->close();
            whenModal<QMessageBox>([&](QMessageBox* box) {
                boxParent = box->parentWidget();
                box->accept();
            });
        });
        const RunResult run = runWindow(*window);
        QVERIFY(run.endedByItself);
        QCOMPARE(run.windowsLeft, 0);
        QVERIFY(setup);
        QCOMPARE(boxParent, static_cast<QWidget*>(setup));  // above the dialog it interrupts
        QCOMPARE(window->exitCode(), 1);
    }

    void sigtermWithTheTowerChoiceOpenEndsTheProcess()
    {
        TestPeer server;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(TOLVANE_PROGRAM, {"--server", QStringLiteral("127.0.0.1:%1").arg(server.port())});
        QVERIFY(server.accept());
        QVERIFY(server.next());
        server.send(makeTowerEntry(2, "Ash", "").bytes() + makeTowerEntry(2, "Elm", "").bytes());
        QTest::qWait(500);  // the choice opens
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    void pleaseSelectATowerWaitsItsTurnLikeEveryText()
    {
        connectWindow();
        QStringList seen;
        QList<QWidget*> parents;
        QList<QMessageBox::Icon> icons;
        int mostOpen = 0;
        TowerDialog* choice = nullptr;
        std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
            if (seen.isEmpty()) {
                peer->send(unexpected(11));  // a text comes while the request is open
                QTest::qWait(300);
            }
            mostOpen = std::max(mostOpen, openBoxes());
            seen << box->text();
            parents << box->parentWidget();
            icons << box->icon();
            box->accept();
            if (seen.size() < 2)
                whenModal<QMessageBox>(answer);
            else
                QTimer::singleShot(0, choice, [&] { choice->reject(); });
        };
        whenModal<TowerDialog>([&](TowerDialog* dialog) {
            choice = dialog;
            whenModal<QMessageBox>(answer);
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        // Two towers: the only one would be chosen already.
        peer->send(makeTowerEntry(2, "Ash", ""));
        peer->send(makeTowerEntry(2, "Elm", ""));
        const RunResult run = runWindow(*window);
        QVERIFY(run.endedByItself);
        QCOMPARE(seen, (QStringList{"Please select a tower", "Incoming message has unexpected message type : 11"}));
        QCOMPARE(mostOpen, 1);
        QCOMPARE(parents, (QList<QWidget*>{choice, choice}));
        QCOMPARE(icons, (QList<QMessageBox::Icon>{QMessageBox::NoIcon, QMessageBox::NoIcon}));
    }

    void theTextThatEndsTheRunIsNeverOnlyCounted_data()
    {
        QTest::addColumn<int>("flood");
        QTest::addColumn<bool>("serverTexts");  // texts with a follow-up, which are bounded too
        QTest::addColumn<QString>("countText");
        QTest::newRow("one counted") << 51 << false << "1 further message came while this window was busy.";
        QTest::newRow("ten counted") << 60 << false << "10 further messages came while this window was busy.";
        QTest::newRow("server texts") << 60 << true << "10 further messages came while this window was busy.";
    }

    void theTextThatEndsTheRunIsNeverOnlyCounted()
    {
        QFETCH(int, flood);
        QFETCH(bool, serverTexts);
        QFETCH(QString, countText);
        connectWindow();
        std::string texts;
        for (int i = 0; i < flood; ++i)
            texts += serverTexts ? makeServerText("Notice " + std::to_string(i)).bytes() : unexpected(100 + i);
        QStringList seen;
        std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
            if (seen.isEmpty()) {
                peer->send(texts);
                peer->close();
                QTest::qWait(300);  // the flood and the close arrive behind this box
            }
            seen << box->text();
            box->accept();
            if (seen.last() != QStringLiteral("Connection to Server Lost."))
                whenModal<QMessageBox>(answer);
        };
        whenModal<QMessageBox>(answer);
        peer->send(unexpected(99));
        const RunResult run = runWindow(*window);
        QVERIFY(run.endedByItself);
        QCOMPARE(run.windowsLeft, 0);
        QCOMPARE(seen.size(), 1 + 50 + 2);
        QCOMPARE(seen.at(seen.size() - 2), countText);
        QCOMPARE(seen.last(), QStringLiteral("Connection to Server Lost."));
    }
};

QTEST_MAIN(RunEndTest)
#include "RunEndTest.moc"

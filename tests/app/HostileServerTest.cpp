// Servers that misbehave: floods of messages that each raise a box, streams
// cut off mid-message, and floods of strikes. The program must keep one box
// at a time, stay responsive, and end cleanly when the stream is broken.

#include "ModalDriver.h"
#include "TestPeer.h"

#include "app/RingerDialog.h"

#include <QMessageBox>
#include <QProcess>
#include <QTest>

namespace {

int openBoxes()
{
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(widget) && widget->isVisible())
            ++boxes;
    return boxes;
}

Options optionsFor(int port)
{
    Options options;
    options.serverHost = "127.0.0.1";
    options.serverPort = port;
    return options;
}

std::string unexpected(int type)
{
    NetMessage message;
    message.init(8, type, 1);
    return message.bytes();
}

} // namespace

class HostileServerTest : public QObject {
    Q_OBJECT

private slots:
    void aFloodOfBoxesNeverNestsThem()
    {
        TestPeer peer;
        RingerDialog window(optionsFor(peer.port()));
        window.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());

        std::string flood;
        for (int i = 0; i < 5000; ++i)
            flood += unexpected(8);
        flood += unexpected(11);
        QStringList seen;
        int mostOpen = 0;
        std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
            // Let the rest of the flood arrive while this box is open.
            QTest::qWait(seen.isEmpty() ? 300 : 10);
            mostOpen = std::max(mostOpen, openBoxes());
            seen << box->text();
            box->accept();
            if (seen.size() < 3)
                whenModal<QMessageBox>(answer);
        };
        whenModal<QMessageBox>(answer);
        peer.send(flood);
        QVERIFY(QTest::qWaitFor([&] { return seen.size() == 3; }, 20000));
        QCOMPARE(mostOpen, 1);
        QCOMPARE(seen[0], QStringLiteral("Incoming message has unexpected message type : 8"));
        QCOMPARE(seen[1], QStringLiteral("Incoming message has unexpected message type : 8\n\n(4999 times)"));
        QCOMPARE(seen[2], QStringLiteral("Incoming message has unexpected message type : 11"));
        QVERIFY(window.controller().running());
    }

    void aRefusalWaitingBehindAnotherBoxStillBringsBackTheChoice()
    {
        TestPeer peer;
        RingerDialog window(optionsFor(peer.port()));
        window.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        QStringList seen;
        bool choiceOffered = false;
        std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
            if (seen.isEmpty())
                QTest::qWait(300);  // the refusal arrives behind this box
            seen << box->text();
            box->accept();
            if (seen.size() < 2)
                whenModal<QMessageBox>(answer);
            else
                whenModal<QDialog>([&](QDialog* dialog) {
                    choiceOffered = dialog->windowTitle() == QStringLiteral("Join a Tower");
                    dialog->reject();
                });
        };
        whenModal<QMessageBox>(answer);
        peer.send(unexpected(8) + makeServerText("Tower full").bytes());
        QVERIFY(QTest::qWaitFor([&] { return choiceOffered; }, 10000));
        QCOMPARE(seen, (QStringList{"Incoming message has unexpected message type : 8", "Tower full"}));
        QVERIFY(QTest::qWaitFor([&] { return !window.controller().running(); }, 5000));
    }

    void aStreamCutOffMidMessageEndsTheRunWithoutHandlingIt()
    {
        TestPeer peer;
        QProcess program;
        program.start(TOLVANE_PROGRAM, {"--headless", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port())});
        QVERIFY(peer.accept());
        QVERIFY(peer.next());
        peer.send(makeServerText("Whole").bytes() + makeServerText("Cut off").bytes().substr(0, 20));
        peer.close();
        QVERIFY(program.waitForFinished(10000));
        const QString errors = QString::fromLatin1(program.readAllStandardError());
        QVERIFY(errors.contains("tolvane: Whole\n"));
        QVERIFY(!errors.contains("Cut off"));
        QVERIFY(errors.contains("tolvane: Connection to Server Lost.\n"));
        QCOMPARE(program.exitCode(), 1);  // no tower was joined
    }

    void aFloodOfStrikesForOtherBellsLeavesTheProgramResponsive()
    {
        TestPeer peer;
        QProcess program;
        program.start(TOLVANE_PROGRAM, {"--headless", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()),
                                        "--tower", "Ash"});
        QVERIFY(seatInAsh(peer, "6"));
        std::string flood;
        for (int i = 0; i < 200000; ++i)
            flood += makeStrike(1 + i % 2, i % 4 < 2, 0, 0).bytes();
        peer.send(flood);
        // The flood rang bells 1 and 2 of the first handstroke; the rest of
        // that row follows, and the robot must still strike its bell.
        for (int bell = 3; bell <= 5; ++bell)
            peer.send(makeStrike(bell, true, 0, 0));
        bool struck = false;
        while (const auto message = peer.next(20000)) {
            if (message->getWord(2) == 4) {
                struck = message->getWord(6) == 6;
                break;
            }
        }
        QVERIFY(struck);
        peer.close();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_MAIN(HostileServerTest)
#include "HostileServerTest.moc"

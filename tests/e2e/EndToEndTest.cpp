// The real server with its band and the real program, on loopback: the program
// joins, is given bells, and rings plain courses and touches with calls from
// the band's conductor or from its own composition, in both go-and-stop
// modes; the rows it prints are checked against rows computed here.

#include "LocalServer.h"

#include "protocol/Messages.h"

#include <QTcpSocket>

#include <csignal>

namespace {

// Six bells at --speed 36: (70 * 6 + 1600 - 50 * 36) / 6 = 36 ms, the
// band's interval at a peal speed of 20 minutes (36.6 ms).
const QStringList kProgramSpeed{"--speed", "36"};
const QStringList kBandSpeed{"--peal-minutes", "20", "--error-ms", "1", "--seed", "7", "--start-delay-ms", "300"};

class Program {
public:
    Program(int port, QStringList arguments)
    {
        process.start(TOLVANE_PROGRAM, QStringList{"--headless", "--server", QStringLiteral("127.0.0.1:%1").arg(port),
                                                   "--tower", "Ash"}
                                           + kProgramSpeed + arguments);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool finished(int milliseconds) { return process.waitForFinished(milliseconds); }
    QStringList rows() { return QString::fromLatin1(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts); }

    QProcess process;
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void ringsAPlainCourseWithTheBand()
    {
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=5,6", "--method", "Plain Bob Minor"});
        QVERIFY(server.port > 0);
        Program program(server.port, {"--method", "Plain Bob Minor"});
        QVERIFY(program.finished(60000));
        QCOMPARE(program.process.exitCode(), 0);
        QCOMPARE(program.rows(), touch("ppppp"));
        const QString log = server.finalLog();
        QVERIFY(log.contains("join Tolvane"));
        QVERIFY(log.contains("assign Tolvane=56"));
        QVERIFY(!log.contains("rings on"));  // the band never had to ring the program's bells
    }

    void followsTheCallsOfTheBandsConductor()
    {
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=2,4", "--method", "Plain Bob Minor",
                                               "--composition", "bbb"});
        Program program(server.port, {"--method", "Plain Bob Minor"});
        QVERIFY(program.finished(60000));
        QCOMPARE(program.rows(), touch("bbb"));
        QCOMPARE(server.finalLog().count("call \"Bob\""), 3);
    }

    void callsItsOwnComposition()
    {
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=6", "--method", "Plain Bob Minor",
                                               "--conductor", "off"});
        Program program(server.port, {"--method", "Plain Bob Minor", "--composition", "sbpbb"});
        // A conductor with no bells starts the ringing.
        QTcpSocket conductor;
        conductor.connectToHost("127.0.0.1", static_cast<quint16>(server.port));
        QVERIFY(conductor.waitForConnected(5000));
        conductor.write(QByteArray::fromStdString(makeHello().bytes()));
        conductor.write(QByteArray::fromStdString(makeJoinTower("Ash", "Conductor").bytes()));
        QVERIFY2(QTest::qWaitFor([&] { return server.readLog().contains("Tolvane=6"); }, 10000),
                 qPrintable(server.log));
        QTest::qWait(500);
        conductor.write(QByteArray::fromStdString(makeCall("Here's treble").bytes()));
        conductor.flush();

        const QStringList expected = touch("sbpbb");
        QVERIFY(QTest::qWaitFor([&] { return server.readLog().count(" row ") >= expected.size(); }, 60000));
        QTest::qWait(500);
        conductor.close();
        server.process.terminate();
        QVERIFY(program.finished(10000));
        QCOMPARE(program.rows().mid(0, expected.size()), expected);
        const QString log = server.readLog();
        QCOMPARE(log.count(QRegularExpression("call \"Bob\" by Tolvane")), 3);
        QCOMPARE(log.count(QRegularExpression("call \"Single\" by Tolvane")), 1);
    }

    void ringsGoAndStopModeOne()
    {
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=3", "--method", "Plain Bob Minor", "--mode", "1",
                                               "--composition", "bbb"});
        Program program(server.port, {"--method", "Plain Bob Minor", "--mode", "1"});
        QVERIFY(program.finished(60000));
        QCOMPARE(program.process.exitCode(), 0);
        const QString log = server.finalLog();
        for (const char* call : {"\"Go\"", "\"That's All\"", "\"Stand\""})
            QVERIFY2(log.contains(call), call);
        // The program printed the start row twice, and the touch's changes.
        const QStringList rows = program.rows();
        const QStringList changes = touch("bbb").mid(2);
        QVERIFY(rows.size() >= changes.size() + 2);
        QCOMPARE(rows.mid(2, changes.size()), changes);
    }

    void ringsOverASlowNetworkAndSummarisesTheStriking_data()
    {
        QTest::addColumn<QString>("latency");
        QTest::addColumn<QStringList>("rhythm");
        QTest::newRow("interval") << "15:5" << QStringList{};
        QTest::newRow("band") << "60:10" << QStringList{"--rhythm", "band"};
    }

    void ringsOverASlowNetworkAndSummarisesTheStriking()
    {
        QFETCH(QString, latency);
        QFETCH(QStringList, rhythm);
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=5,6", "--method", "Plain Bob Minor",
                                               "--latency-ms", latency});
        Program program(server.port, QStringList{"--method", "Plain Bob Minor"} + rhythm);
        QVERIFY(program.finished(60000));
        QCOMPARE(program.rows(), touch("ppppp"));
        const QString errors = QString::fromLatin1(program.process.readAllStandardError());
        QVERIFY2(errors.contains(QRegularExpression("tolvane: striking: own bells 5,6: mean [+-]\\d+\\.\\d ms, "
                                                    "sd \\d+\\.\\d ms, \\d+ blows \\(hand rms \\d+\\.\\d ms, back rms \\d+\\.\\d ms\\); "
                                                    "band: sd \\d+\\.\\d ms, \\d+ blows\n")),
                 qPrintable(errors));
        const QString log = server.finalLog();
        QVERIFY2(log.contains(QRegularExpression(
                     "\\[Ash\\] striking touch 1: Tolvane bells 5,6: mean [+-]\\d+\\.\\d ms, sd \\d+\\.\\d ms, 120 blows\n")),
                 qPrintable(log.right(500)));
        QVERIFY(log.contains(QRegularExpression(
            "\\[Ash\\] striking touch 1: band: sd \\d+\\.\\d ms, 240 blows, \\d+ faults?\n")));
    }

    void aLostConnectionEndsTheRun()
    {
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=6", "--method", "Plain Bob Minor"});
        Program program(server.port, {"--method", "Plain Bob Minor"});
        QVERIFY(QTest::qWaitFor([&] { return server.readLog().count(" row ") >= 6; }, 30000));
        server.process.kill();
        QVERIFY(program.finished(10000));
        QCOMPARE(program.process.exitCode(), 0);
        QVERIFY(QString::fromLatin1(program.process.readAllStandardError()).contains("tolvane: Connection to Server Lost."));
    }

    // The server cuts every client off in the middle of the touch. With
    // --reconnect the program comes back within the first wait, joins the
    // same tower and rings all of its blows in the touch that follows;
    // without it, the run ends as when the server goes.
    void aDroppedConnectionIsMadeAgainOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("reconnect") << true;
        QTest::newRow("default") << false;
    }

    void aDroppedConnectionIsMadeAgainOnlyWhenAsked()
    {
        QFETCH(bool, reconnect);
        Server server(kBandSpeed + QStringList{"--ringer", "Tolvane=5,6", "--method", "Plain Bob Minor"});
        Program program(server.port, QStringList{"--method", "Plain Bob Minor"}
                                         + (reconnect ? QStringList{"--reconnect"} : QStringList{}));
        QVERIFY(QTest::qWaitFor([&] { return server.readLog().count(" row ") >= 6; }, 30000));
        ::kill(static_cast<pid_t>(server.process.processId()), SIGUSR1);
        if (!reconnect) {
            QVERIFY(program.finished(10000));
            QCOMPARE(program.process.exitCode(), 0);
            const QString errors = QString::fromLatin1(program.process.readAllStandardError());
            QVERIFY(errors.contains("tolvane: Connection to Server Lost."));
            QVERIFY(!errors.contains("reconnecting"));
            return;
        }
        // The first attempt comes after a second.
        QVERIFY2(QTest::qWaitFor([&] { return server.readLog().contains("join Tolvane (client 2)"); }, 5000),
                 qPrintable(server.log.right(500)));
        // The touch after the rejoin: whole, every blow of 5 and 6 struck by the program.
        QVERIFY(server.process.waitForFinished(60000));
        const QString log = server.readLog();
        const QString afterRejoin = log.mid(log.indexOf("join Tolvane (client 2)"));
        QVERIFY2(afterRejoin.contains(QRegularExpression("striking touch 1: Tolvane bells 5,6: .* 120 blows\n")),
                 qPrintable(afterRejoin.right(500)));
        QVERIFY(!afterRejoin.contains("band rings bell"));
        // The server has gone; the program tries again until stopped, then exits 0.
        program.process.terminate();
        QVERIFY(program.finished(10000));
        QCOMPARE(program.process.exitCode(), 0);
        const QStringList rows = program.rows();
        const QStringList expected = touch("ppppp");
        QVERIFY(rows.size() > expected.size());
        QCOMPARE(rows.mid(rows.size() - expected.size()), expected);
        QVERIFY(QString::fromLatin1(program.process.readAllStandardError())
                    .contains("tolvane: Connection lost: reconnecting... (attempt 1)\n"));
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "EndToEndTest.moc"

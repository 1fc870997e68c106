// A person at the real window with the real server's band on loopback, the
// server's conductor off: the person calls the touch from the keys and rings
// two bells with F and J, and the server rings what they call.

#include "LocalServer.h"

#include "app/RingerDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <set>
#include <utility>

namespace {

// The person strikes this long after the bell in front is heard.
constexpr int kPersonGapMs = 60;

// Rings the person's bells with their keys, each once a row, a little after
// the bell in front of it is heard, as a ringer who follows by ear.
class Person {
public:
    Person(RingerDialog& window, QWidget* focus) : window(window), focus(focus)
    {
        QObject::connect(&watch, &QTimer::timeout, [this] { strikeWhenDue(); });
        watch.start(1);
    }

private:
    void strikeWhenDue()
    {
        const EngineState& state = window.controller().ringing();
        if (!state.ringing || state.struckBells.size() >= state.currentRow.size())
            return;
        const char next = state.currentRow[state.struckBells.size()];
        for (std::size_t hand = 0; hand < state.hands.size(); ++hand) {
            const int bell = state.hands[hand].bell;
            if (bell == 0 || kBellSymbols[static_cast<std::size_t>(bell - 1)] != next)
                continue;
            if (!struck.insert({state.rowIndex, bell}).second)
                return;
            QTimer::singleShot(kPersonGapMs, focus, [this, hand] {
                QTest::keyClick(focus, hand == 0 ? Qt::Key_F : Qt::Key_J);
            });
        }
    }

    RingerDialog& window;
    QWidget* focus;
    QTimer watch;
    std::set<std::pair<int, int>> struck;  // (row, bell) pressed for
};

QStringList loggedRows(const QString& log)
{
    QStringList rows;
    const QRegularExpression row("\\[Ash\\] row \\d+ [HB] (\\d+) at ");
    for (auto match = row.globalMatch(log); match.hasNext();)
        rows << match.next().captured(1);
    return rows;
}

// "HBHB..." for the person's strikes of `bell` as the server heard them.
QString strokesOf(const QString& log, int bell)
{
    QString strokes;
    const QRegularExpression strike(QStringLiteral("\\[Ash\\] strike bell %1 ([HB]) .* by Tolvane\n").arg(bell));
    for (auto match = strike.globalMatch(log); match.hasNext();)
        strokes += match.next().captured(1);
    return strokes;
}

} // namespace

class RingWithPeopleTest : public QObject {
    Q_OBJECT

private slots:
    void aPersonCallsTheTouchAndRingsTwoBellsWithTheBand()
    {
        Server server({"--ringer", "Tolvane=5,6", "--method", "Plain Bob Minor", "--conductor", "off",
                       "--peal-minutes", "40", "--error-ms", "1", "--seed", "7", "--start-delay-ms", "300"});
        QVERIFY(server.port > 0);
        QDir::setCurrent(QFileInfo(TOLVANE_METHODS).absolutePath());
        Options options;
        options.serverHost = "127.0.0.1";
        options.serverPort = server.port;
        options.serverChosen = true;
        options.tower = "Ash";
        options.method = "Plain Bob Minor";
        options.personBells = PersonBells{5, 6};
        RingerDialog window(options);
        QCOMPARE(window.prepare(), std::string());
        // A box that opens is noted and closed, so that the test cannot hang in it.
        QStringList boxes;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->accept();
            }
        });
        closer.start(10);
        window.show();
        window.start();
        const EngineState& state = window.controller().ringing();
        QVERIFY(QTest::qWaitFor([&] { return state.bellTable[4].byHand && state.bellTable[5].byHand; }, 10000));

        auto* focus = window.findChild<QPushButton*>("stopButton");
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_L);
        QVERIFY2(QTest::qWaitFor([&] { return state.ringing; }, 10000), qPrintable(server.readLog().right(500)));
        Person person(window, focus);
        // A bob called early in the first lead comes at its lead end.
        QVERIFY2(QTest::qWaitFor([&] { return state.changesRung >= 4; }, 30000),
                 qPrintable(boxes.join('\n') + server.readLog().right(800)));
        QTest::keyClick(focus, Qt::Key_B);
        const QStringList expected = touch("bp").mid(0, 2 + 12 + 6);
        QVERIFY2(QTest::qWaitFor([&] { return loggedRows(server.readLog()).size() >= expected.size(); }, 60000),
                 qPrintable(server.log.right(800)));
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));  // nothing took the keys from the person
        QTest::keyClick(focus, Qt::Key_T);
        QTest::keyClick(focus, Qt::Key_S);
        QVERIFY2(QTest::qWaitFor([&] { return !state.ringing; }, 20000),
                 qPrintable(boxes.join('\n') + server.readLog().right(800)));

        const QString log = server.readLog();
        QCOMPARE(loggedRows(log).mid(0, expected.size()), expected);
        for (const char* call : {"Here's treble", "Bob", "That's All", "Stand"})
            QVERIFY2(log.contains(QStringLiteral("call \"%1\" by Tolvane").arg(call)), call);
        QCOMPARE(log.count(QRegularExpression("call \"Bob\" by ")), 1);
        QVERIFY2(!log.contains("band rings bell"), "every blow of 5 and 6 came from the keys");
        for (const int bell : {5, 6}) {
            const QString strokes = strokesOf(log, bell);
            QVERIFY(strokes.size() >= expected.size());
            for (int i = 0; i < strokes.size(); ++i)
                QCOMPARE(strokes[i], QLatin1Char(i % 2 == 0 ? 'H' : 'B'));
        }
    }
};

QTEST_MAIN(RingWithPeopleTest)
#include "RingWithPeopleTest.moc"

// The main window: its controls, and that socket events and the strike timer
// go on being handled while a modal box is open.

#include "ModalDriver.h"
#include "TestPeer.h"

#include "app/RingerDialog.h"
#include "dialogs/ChartWindow.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/PersonStrip.h"
#include "dialogs/RowsView.h"
#include "dialogs/TowerDialog.h"

#include <QKeyEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

class RingerDialogTest : public QObject {
    Q_OBJECT

private:
    static Options localOptions(int port)
    {
        Options options;
        options.serverHost = "127.0.0.1";
        options.serverPort = port;
        return options;
    }

    static QString text(QWidget* window, const char* name)
    {
        auto* label = window->findChild<QLabel*>(name);
        return label ? label->text() : QStringLiteral("<missing %1>").arg(name);
    }

    QTemporaryDir configHome;

private slots:
    // The options dialog saves what it is given: never into the user's own settings.
    void initTestCase()
    {
        QVERIFY(configHome.isValid());
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    }

    // A wrong server is put right from the window: before a tower is joined,
    // a server changed in Options is connected to at once.
    void aServerChangedInOptionsBeforeATowerIsJoinedIsConnectedTo()
    {
        TestPeer wrong;
        TestPeer right;
        RingerDialog window(localOptions(wrong.port()));
        window.show();
        window.start();
        QVERIFY(wrong.accept());
        QVERIFY(wrong.next());  // the greeting; no tower list comes
        whenModal<OptionsDialog>([&](OptionsDialog* dialog) {
            dialog->findChild<QLineEdit*>("hostEdit")->setText(QStringLiteral("127.0.0.1"));
            dialog->findChild<QSpinBox*>("portBox")->setValue(right.port());
            dialog->accept();
        });
        window.editOptions();
        QVERIFY(right.accept());
        QVERIFY(right.next());
        QVERIFY(window.controller().running());
    }

    void importedMethodsAreSaidAndOfferedAtOnce()
    {
        QTemporaryDir dataHome;
        const QByteArray before = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        RingerDialog window(localOptions(1));
        window.show();
        QString said;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            said = box->text();
            box->accept();
        });
        window.importMethodsFrom(QStringLiteral(TOLVANE_SOURCE_DIR "/tests/data/collection-small.xml"));
        qputenv("XDG_DATA_HOME", before);
        QVERIFY2(said.startsWith("6 methods imported; skipped: 1 on more than 12 bells"), qPrintable(said));
        const MethodDef* imported = window.controller().methodLibrary().methodTitled("Smoke Delight Royal");
        QVERIFY(imported && imported->imported);
    }

    void startsWithTheControlsInTheirOrder()
    {
        RingerDialog window(localOptions(1));
        QCOMPARE(window.windowTitle(), QStringLiteral("Tolvane"));
        const char* names[] = {"setMethodButton", "stopButton", "fasterButton", "slowerButton"};
        const char* captions[] = {"Set Method", "Stop", "Faster", "Slower"};
        QWidget* previous = nullptr;
        for (int i = 0; i < 4; ++i) {
            auto* button = window.findChild<QPushButton*>(names[i]);
            QVERIFY(button);
            QCOMPARE(button->text(), QString::fromLatin1(captions[i]));
            QVERIFY(!button->autoDefault());
            QVERIFY(button->isEnabled());
            if (previous)
                QCOMPARE(previous->nextInFocusChain(), button);
            previous = button;
        }
        QCOMPARE(text(&window, "speedAdjustmentValue"), QStringLiteral("0"));
        QCOMPARE(text(&window, "pealSpeedValue"), QString());
        QCOMPARE(text(&window, "changesRungValue"), QStringLiteral("0"));
        QCOMPARE(text(&window, "changeInLeadValue"), QStringLiteral("0"));
        QCOMPARE(text(&window, "lastChangesView"), QString());
    }

    void fasterWithNoBellsChangesNoDisplay()
    {
        RingerDialog window(localOptions(1));
        window.findChild<QPushButton*>("fasterButton")->click();
        QCOMPARE(window.controller().ringing().speedAdjustment, 1);
        QCOMPARE(text(&window, "speedAdjustmentValue"), QStringLiteral("0"));
    }

    void escapeEndsTheRun()
    {
        RingerDialog window(localOptions(1));
        QTimer::singleShot(0, &window, [&] { QTest::keyClick(&window, Qt::Key_Escape); });
        QCOMPARE(window.exec(), int(QDialog::Rejected));
        QVERIFY(!window.controller().running());
        QCOMPARE(window.exitCode(), 0);
    }

    void ringsOnBehindAnOpenMessageBox()
    {
        TestPeer peer;
        RingerDialog window(localOptions(peer.port()));
        window.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());  // the greeting

        whenModal<TowerDialog>([](TowerDialog* dialog) {
            auto* list = dialog->findChild<QTreeWidget*>("towerListView");
            list->setCurrentItem(list->topLevelItem(0));
            list->topLevelItem(0)->setSelected(true);
            dialog->accept();
        });
        peer.send(makeTowerEntry(1, "Ash", "Six bells"));
        const auto join = peer.next();
        QVERIFY(join);
        QCOMPARE(join->bytes(), makeJoinTower("Ash", "Tolvane").bytes());
        peer.send(makeJoinConfirmation("Ash"));
        peer.send(makeBellAssignment(6, "Band", "13456"));
        peer.send(makeBellAssignment(6, "Tolvane", "2"));

        // A box opens; behind it the band strikes and the robot answers.
        bool strikeWhileOpen = false;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            QCOMPARE(box->text(), QStringLiteral("<b>Welcome</b>"));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            peer.send(makeStrike(1, true, 0, 0));
            const auto strike = peer.next();
            strikeWhileOpen = strike && strike->getWord(6) == 2 && strike->getWord(8) == 1;
            box->accept();
        });
        peer.send(makeServerText("<b>Welcome</b>"));
        QVERIFY(QTest::qWaitFor([&] { return strikeWhileOpen; }, 10000));
        QCOMPARE(window.controller().joinedTower(), std::string("Ash"));
        QCOMPARE(text(&window, "pealSpeedValue"), QStringLiteral("3 hours 3 minutes"));
        QCOMPARE(text(&window, "lastChangesView"), QStringLiteral("123456\n123456"));

        peer.close();
        whenModal<QMessageBox>([](QMessageBox* box) {
            QCOMPARE(box->text(), QStringLiteral("Connection to Server Lost."));
            box->accept();
        });
        QVERIFY(QTest::qWaitFor([&] { return !window.controller().running(); }, 10000));
        QCOMPARE(window.exitCode(), 0);
    }

    void stopEndsTheRingingAtTheEndOfTheNextBackstroke()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.start();
        QVERIFY(seatInAsh(peer, "6"));
        QVERIFY(ringWithProgram(peer, std::vector<std::string>(5, "123456"), "6", 20));

        window.findChild<QPushButton*>("stopButton")->click();
        for (int bell = 1; bell <= 5; ++bell)
            peer.send(makeStrike(bell, false, 0, 0));
        const auto backstroke = peer.next();
        QVERIFY(backstroke);
        QCOMPARE(int(backstroke->getWord(6)), 6);
        QCOMPARE(int(backstroke->getWord(8)), 0);
        peer.send(*backstroke);
        QVERIFY(QTest::qWaitFor([&] { return !window.controller().ringing().ringing; }, 5000));
        QVERIFY2(!peer.next(500), "no strike after the backstroke");
        QVERIFY(window.controller().running());
    }

    // Space, J and F strike the person's bell whichever button has the
    // focus, and never press it; a repeating key strikes once. (Which stroke
    // a quick press is, the engine decides, and its own tests say.)
    void bellKeysStrikeThePersonsBellAndPressNoButton()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.setPersonBells({2, 0});
        window.show();
        window.start();
        QVERIFY(seatInAsh(peer, "2"));
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().bellTable[1].byHand; }, 5000));

        auto* stop = window.findChild<QPushButton*>("stopButton");
        stop->setFocus();
        bool clicked = false;
        connect(stop, &QPushButton::clicked, this, [&] { clicked = true; });
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_J, Qt::Key_F}) {
            QTest::keyPress(stop, key);
            QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(stop, &repeat);
            // X's repeat of a held key, left unmarked: a release and a press at one instant.
            for (const QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
                QKeyEvent unmarked(type, key, Qt::NoModifier);
                unmarked.setTimestamp(1000);
                QApplication::sendEvent(stop, &unmarked);
            }
            QTest::keyRelease(stop, key);
            const auto strike = peer.next();
            QVERIFY(strike);
            QCOMPARE(int(strike->getWord(2)), 4);
            QCOMPARE(int(strike->getWord(6)), 2);
        }
        QVERIFY2(!peer.next(300), "one strike a key press");
        QVERIFY(!clicked);
        QVERIFY(!window.controller().ringing().stopRequested);
        peer.close();
    }

    // Each call key sends its words whichever button has the focus, presses
    // none, and calls once while held; the call is obeyed only when the
    // server relays it back, and shown large. Nothing is rung by hand here:
    // a conductor who only calls uses the keys too.
    void callKeysSendTheirCallsWhichAreObeyedWhenRelayedBack()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.show();
        window.start();
        QVERIFY(seatInAsh(peer, "6"));
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().bellCount == 6; }, 5000));

        auto* stop = window.findChild<QPushButton*>("stopButton");
        stop->setFocus();
        bool clicked = false;
        connect(stop, &QPushButton::clicked, this, [&] { clicked = true; });
        const std::vector<std::pair<Qt::Key, std::string>> calls{
            {Qt::Key_L, "Here's treble"}, {Qt::Key_G, "Go"},         {Qt::Key_B, "Bob"},
            {Qt::Key_N, "Single"},        {Qt::Key_T, "That's All"}, {Qt::Key_S, "Stand"}};
        for (const auto& [key, words] : calls) {
            QTest::keyPress(stop, key);
            QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(stop, &repeat);
            QTest::keyRelease(stop, key);
            const auto call = peer.next();
            QVERIFY(call);
            QCOMPARE(int(call->getWord(2)), 3);
            QCOMPARE(readCall(*call), words);
        }
        QVERIFY2(!peer.next(300), "one call a key press");
        QVERIFY(!clicked);
        // With Control the letter is not a call.
        QTest::keyClick(stop, Qt::Key_B, Qt::ControlModifier);
        QVERIFY(!peer.next(200));

        // Sent, not obeyed: the ringing starts when the call comes back, once.
        QVERIFY(!window.controller().ringing().ringing);
        QVERIFY(!window.controller().ringing().stopRequested);
        peer.send(makeCall("Here's treble"));
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().ringing; }, 5000));
        auto* callView = window.findChild<QLabel*>("callView");
        QVERIFY(callView);
        QCOMPARE(callView->text(), QStringLiteral("Here's treble"));
        QCOMPARE(callView->textFormat(), Qt::PlainText);

        // A button does as its key does.
        window.findChild<QPushButton*>("callButtonS")->click();
        const auto stand = peer.next();
        QVERIFY(stand);
        QCOMPARE(readCall(*stand), std::string("Stand"));
        QVERIFY(!window.controller().ringing().stopRequested);
        peer.send(*stand);
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().stopRequested; }, 5000));
        QCOMPARE(callView->text(), QStringLiteral("Stand"));
        QVERIFY(QTest::qWaitFor([&] { return callView->text().isEmpty(); }, 5000));

        // Under a box the letters are the box's.
        whenModal<QMessageBox>([](QMessageBox* box) {
            for (const Qt::Key key : {Qt::Key_L, Qt::Key_B, Qt::Key_S})
                QTest::keyClick(box, key);
            box->accept();
        });
        window.showMessage("Over the window");
        QVERIFY2(!peer.next(300), "no call from a key pressed in a box");
        peer.close();
    }

    // Before a tower is joined a call goes nowhere, and the line under the
    // rows says why once, not at every press.
    void aCallBeforeATowerIsJoinedIsNotSentAndSaidOnce()
    {
        TestPeer peer;
        RingerDialog window(localOptions(peer.port()));
        window.show();
        window.start();
        QVERIFY(peer.accept());
        QVERIFY(peer.next());  // the greeting
        auto* status = window.findChild<QLabel*>("statusLine");
        QTest::keyClick(&window, Qt::Key_B);
        QCOMPARE(status->text(), QStringLiteral("No tower joined yet: the call was not sent"));
        QVERIFY(status->isVisible());
        status->clear();
        QTest::keyClick(&window, Qt::Key_B);
        window.findChild<QPushButton*>("callButtonL")->click();
        QCOMPARE(status->text(), QString());
        QVERIFY(!peer.next(300));
        peer.close();
    }

    // With two bells F strikes the first and J the second, each with its own
    // stroke from row to row; Space strikes neither.
    void twoBellsRingEachOnItsKeyWithItsOwnStroke()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.setPersonBells({2, 4});
        window.show();
        window.start();
        QVERIFY(seatInAsh(peer, "24"));
        const auto& table = window.controller().ringing().bellTable;
        QVERIFY(QTest::qWaitFor([&] { return table[1].byHand && table[3].byHand; }, 5000));
        peer.send(makeCall("Here's treble"));

        auto* stop = window.findChild<QPushButton*>("stopButton");
        stop->setFocus();
        for (int row = 0; row < 4; ++row) {
            const bool handstroke = row % 2 == 0;
            for (const char symbol : std::string("123456")) {
                const int bell = symbol - '0';
                if (bell != 2 && bell != 4) {
                    peer.send(makeStrike(bell, handstroke, 0, 0));
                    QTest::qWait(30);
                    continue;
                }
                QTest::keyClick(stop, Qt::Key_Space);
                QTest::keyClick(stop, bell == 2 ? Qt::Key_F : Qt::Key_J);
                const auto strike = peer.next();
                QVERIFY(strike);
                QCOMPARE(int(strike->getWord(2)), 4);
                QCOMPARE(int(strike->getWord(6)), bell);
                QCOMPARE(strike->getWord(8) != 0, handstroke);
                peer.send(*strike);
                QTest::qWait(30);
            }
        }
        QVERIFY2(!peer.next(300), "Space strikes neither of two bells");
        peer.close();
    }

    // One figure for the person on the line, and each of their bells' own on hover.
    void theStrikingLineGivesThePersonsFigureAndEachBellsOnHover()
    {
        RingerDialog window(localOptions(1));
        StrikingSummary summary;
        StrikingFigures& recent = summary.recent;
        recent.person = {5.2, 30.4, 24};
        recent.band = {0, 22.0, 48};
        recent.personBells = {{5, "Tolvane", {3.0, 20.2, 12}, {}}, {6, "Tolvane", {-12.4, 8.0, 12}, {}}};
        window.showStriking(summary);
        auto* striking = window.findChild<QLabel*>("strikingValue");
        QCOMPARE(striking->text(), QStringLiteral("you +5 \u00b130 ms \u00b7 band \u00b122 ms"));
        QVERIFY2(striking->toolTip().contains(QStringLiteral("Bell 5: +3 \u00b120 ms\nBell 6: -12 \u00b18 ms")),
                 qPrintable(striking->toolTip()));
    }

    // A box would take the keys from the person ringing: the server's texts,
    // sent again at every pause, go to the line under the rows instead.
    void serverTextsGoToTheStatusLineWhileAPersonRings()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.setPersonBells({2, 0});
        window.show();
        window.start();
        QVERIFY(seatInAsh(peer, "2"));
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().bellTable[1].byHand; }, 5000));

        QStringList boxes;
        QTimer closer;  // a box that opens is noted and closed, so that the test cannot hang in it
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->accept();
            }
        });
        closer.start(10);
        const std::string said = "<b>The band rings on for Tolvane</b>";
        for (int pause = 0; pause < 3; ++pause)
            peer.send(makeServerText(said));
        auto* status = window.findChild<QLabel*>("statusLine");
        QVERIFY(status);
        QVERIFY(QTest::qWaitFor([&] { return status->text() == QString::fromStdString(said); }, 5000));
        QTest::qWait(200);
        QCOMPARE(boxes, QStringList());
        QVERIFY(status->isVisible());
        QCOMPARE(status->textFormat(), Qt::PlainText);
        peer.close();
    }

    // Everything the right-click menu offers, and more, is in the menu bar.
    void theMenuBarOffersTheRingingAndHelpMenus()
    {
        RingerDialog window(localOptions(1));
        auto* bar = window.findChild<QMenuBar*>("menuBar");
        QVERIFY(bar);
        QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
        const auto captions = [&](const char* name) {
            QStringList texts;
            for (const QAction* action : window.findChild<QMenu*>(name)->actions())
                if (!action->isSeparator())
                    texts << action->text().remove(QLatin1Char('&'));
            return texts;
        };
        QCOMPARE(captions("ringingMenu"), (QStringList{"Set Method...", "Options...", "Import methods...",
                                                       "Striking chart...", "Quit"}));
        QCOMPARE(captions("helpMenu"), (QStringList{"Keys", "About Tolvane"}));
    }

    // Tolvane's bells are bold in the rows, the person's bold in their line's colour.
    void theRowsMarkTolvanesBellsAndThePersons()
    {
        TestPeer peer;
        Options options = localOptions(peer.port());
        options.tower = "Ash";
        RingerDialog window(options);
        window.setPersonBells({2, 0});
        window.show();
        window.start();
        QVERIFY(seatInAsh(peer, "26"));
        QVERIFY(QTest::qWaitFor([&] { return window.controller().ringing().bellTable[1].byHand; }, 5000));
        QVERIFY(ringWithProgram(peer, std::vector<std::string>(2, "123456"), "6", 20));
        auto* rows = window.findChild<RowsView*>("lastChangesView");
        QVERIFY(QTest::qWaitFor([&] { return rows->text() == QStringLiteral("123456\n123456"); }, 5000));
        const auto& marks = rows->marks();
        QCOMPARE(marks.keys(), (QList<QChar>{QLatin1Char('2'), QLatin1Char('6')}));
        QVERIFY(marks['6'].bold && !marks['6'].colour.isValid());
        QVERIFY(marks['2'].bold);
        QCOMPARE(marks['2'].colour, PersonStrip::pathColour(0));
        const QImage image = rows->grab().toImage();
        int blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                blue += image.pixelColor(x, y).blue() > 150 && image.pixelColor(x, y).red() < 100;
        QVERIFY2(blue > 10, "the person's bell drawn in its colour");
        peer.close();
    }

    // At the end the window says so and gives the whole touch's figures, the
    // hand and back split on hover; the chart then opens in a window of its own.
    void theEndOfATouchIsSaidWithTheWholeTouchsFiguresAndItsChart()
    {
        RingerDialog window(localOptions(1));
        window.show();
        QCoreApplication::sendPostedEvents();
        const QSize size = window.size();
        StrikingSummary summary;
        summary.recent.own = {1.0, 5.0, 12};
        summary.recent.band = {0, 30.0, 48};
        window.showStriking(summary);
        auto* striking = window.findChild<QLabel*>("strikingValue");
        QCOMPARE(striking->text(), QStringLiteral("own +1 \u00b15 ms \u00b7 band \u00b130 ms"));
        QVERIFY(!window.openStrikingChart());

        summary.touchEnded = true;
        summary.touch.person = {-4444.0, 2555.0, 112};
        summary.touch.own = {2.0, 7.0, 112};
        summary.touch.band = {0, 21.0, 448};
        summary.touch.personStrokes = {{0, 0, 56, 0, 20.4}, {0, 0, 56, 0, 31.0}};
        summary.touch.ownStrokes = {{0, 0, 56, 0, 6.2}, {0, 0, 56, 0, 8.0}};
        const QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">"
                               "<rect width=\"200\" height=\"100\" fill=\"#1c5fd0\"/></svg>";
        summary.chartSvg = svg.toStdString();
        summary.touch.personBells = {{2, "Tolvane", {-4.0, 25.0, 112}, {}}};
        window.showStriking(summary);
        window.heardCall(std::string(300, 'W'));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(window.size(), size);  // whatever the texts, the window keeps its size
        QCOMPARE(text(&window, "statusLine"), QStringLiteral("Touch ended: 0 changes"));
        QVERIFY2(striking->text().startsWith(QStringLiteral("touch: you -4444 \u00b12555 ms")), qPrintable(striking->text()));
        QVERIFY2(striking->text().endsWith(QStringLiteral("\u2026")), "too long for the line: elided");
        QVERIFY(striking->toolTip().startsWith(QStringLiteral("touch: you -4444 \u00b12555 ms \u00b7 own +2 \u00b17 ms \u00b7 band \u00b121 ms")));
        QVERIFY2(striking->toolTip().contains(QStringLiteral("You at hand \u00b120 ms \u00b7 back \u00b131 ms")),
                 qPrintable(striking->toolTip()));
        QVERIFY(striking->toolTip().contains(QStringLiteral("Tolvane at hand \u00b16 ms \u00b7 back \u00b18 ms")));

        ChartWindow* chart = window.openStrikingChart();
        QVERIFY(chart && chart->isVisible());
        QCOMPARE(chart->chart(), svg);
        QTemporaryDir folder;
        const QString path = folder.filePath("chart.svg");
        QCOMPARE(chart->saveTo(path), QString());
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), svg);
        QVERIFY(!chart->saveTo(folder.filePath("no/such/folder/chart.svg")).isEmpty());

        // The next touch's rows bring the last rows' figures back, and the end is no longer said.
        window.showStriking(StrikingSummary{"2", summary.recent, {}, false, {}});
        QCOMPARE(striking->text(), QStringLiteral("own +1 \u00b15 ms \u00b7 band \u00b130 ms"));
        QCOMPARE(text(&window, "statusLine"), QString());
    }

    void messagesThatComeWhileABoxIsOpenWaitForIt()
    {
        RingerDialog window(localOptions(1));
        QStringList seen;
        int depth = 0;
        int deepest = 0;
        std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
            seen << box->text();
            if (seen.size() == 1) {
                // Three more arrive while the first is open: none opens inside it.
                for (const char* more : {"Next bell not found", "Next bell not found", "Other"})
                    window.showMessage(more);
            }
            box->accept();
            if (seen.size() < 3)
                whenModal<QMessageBox>(answer);
        };
        whenModal<QMessageBox>(answer);
        window.showMessageThen("First", [&] {
            ++depth;
            deepest = std::max(deepest, depth);
            --depth;
        });
        QCOMPARE(seen, (QStringList{"First", "Next bell not found\n\n(2 times)", "Other"}));
        QCOMPARE(deepest, 1);
    }
};

QTEST_MAIN(RingerDialogTest)
#include "RingerDialogTest.moc"

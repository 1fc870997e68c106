#include "dialogs/PersonStrip.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

PersonPath ringingPath()
{
    PersonPath path;
    path.bell = 4;
    path.assigned = path.rung = path.ringing = true;
    path.lastRow = "214365";
    path.currentRow = "241635";
    path.nextRow = "426153";
    return path;
}

// Pixels of a hand's path colour in each third of the strip's width.
std::array<int, 3> colouredPixelsByThird(PersonStrip& strip, int hand = 0)
{
    const QImage image = strip.grab().toImage();
    std::array<int, 3> counts{};
    const QColor want = PersonStrip::pathColour(hand);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) + std::abs(c.blue() - want.blue()) < 60)
                ++counts[static_cast<std::size_t>(3 * x / image.width())];
        }
    return counts;
}

// The first lead of Plain Bob Minor, the third row being rung.
PersonPath leadPath()
{
    PersonPath path = ringingPath();
    path.leadRows = {"123456", "214365", "241635", "426153", "462513", "645231", "654321",
                     "563412", "536142", "351624", "315264", "132546", "135264"};
    path.rowInLead = 2;
    return path;
}

// Pixels of a hand's colour in each third of the strip's width, below its places.
std::array<int, 3> leadPixelsByThird(PersonStrip& strip, int hand = 0)
{
    QImage image = strip.grab().toImage();
    const int placesHeight = strip.height() - 6 * strip.fontMetrics().lineSpacing();
    QPainter blank(&image);
    blank.fillRect(0, 0, image.width(), placesHeight, Qt::white);
    blank.end();
    std::array<int, 3> counts{};
    const QColor want = PersonStrip::pathColour(hand);
    for (int y = placesHeight; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) + std::abs(c.blue() - want.blue()) < 60)
                ++counts[static_cast<std::size_t>(3 * x / image.width())];
        }
    return counts;
}

} // namespace

class PersonStripTest : public QObject {
    Q_OBJECT

private slots:
    void showsThePlacesNowAndNextAndDrawsTheBellsPath()
    {
        PersonStrip strip;
        strip.resize(360, strip.sizeHint().height());
        strip.showPath(ringingPath());
        QCOMPARE(strip.currentPlace(), QStringLiteral("2nds"));
        QCOMPARE(strip.nextPlace(), QStringLiteral("Lead"));
        QVERIFY(strip.note().isEmpty());
        const auto counts = colouredPixelsByThird(strip);
        QVERIFY2(counts[0] > 0, "the place now in colour");
        QVERIFY2(counts[2] > 20, "the bell and its path in colour through the rows");
    }

    // The bell's line runs through the whole lead, and the strip names the
    // stroke being rung and where the bell ends the lead; of two bells, each.
    void drawsTheWholeLeadWithTheStrokeAndTheLeadEnd()
    {
        PersonStrip strip;
        strip.resize(360, strip.sizeHint().height());
        PersonPath path = leadPath();
        strip.showPath(path);
        QCOMPARE(strip.stroke(), QStringLiteral("H"));
        QCOMPARE(strip.leadEndPlace(), QStringLiteral("6ths"));
        const auto counts = leadPixelsByThird(strip);
        for (const int count : counts)
            QVERIFY2(count > 20, "the line in colour across the lead");

        path.handstroke = false;
        path.secondBell = 1;
        path.secondRung = true;
        strip.showPath(path);
        QCOMPARE(strip.stroke(), QStringLiteral("B"));
        QCOMPARE(strip.leadEndPlace(1), QStringLiteral("Lead"));
        for (const int count : leadPixelsByThird(strip, 1))
            QVERIFY2(count > 20, "the second bell's line across the lead");

        // The lead the engine gave no longer stands when a touch ends.
        path.ringing = false;
        strip.showPath(path);
        QCOMPARE(strip.stroke(), QString());
        QCOMPARE(strip.leadEndPlace(), QString());
    }

    void saysWhenThereIsNothingToRingByHand()
    {
        PersonStrip strip;
        PersonPath path = ringingPath();
        path.bell = 9;
        path.rung = false;
        strip.showPath(path);
        QVERIFY(strip.note().contains(QStringLiteral("not given bell 9")));
        QVERIFY(strip.currentPlace().isEmpty());

        path.assigned = false;
        strip.showPath(path);
        QVERIFY(!strip.note().isEmpty());
        strip.showPath(ringingPath());
        QVERIFY(strip.note().isEmpty());
    }

    void aRowWithoutTheBellShowsNoPlace()
    {
        PersonStrip strip;
        PersonPath path = ringingPath();
        path.nextRow.clear();  // the ringing stops after this row
        path.bell = 12;         // and a row too short for the bell
        strip.showPath(path);
        QCOMPARE(strip.currentPlace(), QString());
        QCOMPARE(strip.nextPlace(), QString());
        strip.resize(360, 80);
        strip.grab();
    }

    // Each of two bells has its places and its own colour, the rows and
    // paths of both drawn; a bell Tolvane was not given is said, and the
    // other still drawn.
    void showsBothBellsEachInItsColour()
    {
        PersonStrip strip;
        PersonPath path = ringingPath();
        path.secondBell = 6;
        path.secondRung = true;
        strip.showPath(path);
        strip.resize(360, strip.sizeHint().height());
        QCOMPARE(strip.currentPlace(0), QStringLiteral("2nds"));
        QCOMPARE(strip.nextPlace(0), QStringLiteral("Lead"));
        QCOMPARE(strip.currentPlace(1), QStringLiteral("4ths"));
        QCOMPARE(strip.nextPlace(1), QStringLiteral("3rds"));
        QVERIFY(strip.note().isEmpty());
        QVERIFY(PersonStrip::pathColour(0) != PersonStrip::pathColour(1));
        for (const int hand : {0, 1}) {
            const auto counts = colouredPixelsByThird(strip, hand);
            QVERIFY2(counts[0] > 0 && counts[2] > 20, qPrintable(QStringLiteral("hand %1").arg(hand)));
        }

        path.secondRung = false;
        strip.showPath(path);
        QVERIFY2(strip.note().contains(QStringLiteral("not given bell 6: J")), qPrintable(strip.note()));
        QCOMPARE(strip.currentPlace(0), QStringLiteral("2nds"));
        QCOMPARE(strip.currentPlace(1), QString());
        QCOMPARE(colouredPixelsByThird(strip, 0)[2] > 20, true);

        path.ringing = false;
        path.secondRung = true;
        strip.showPath(path);
        QVERIFY2(strip.note().contains(QStringLiteral("F strikes 4, J strikes 6")), qPrintable(strip.note()));
    }
};

QTEST_MAIN(PersonStripTest)
#include "PersonStripTest.moc"

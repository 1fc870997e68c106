#include "dialogs/PersonStrip.h"

#include <QImage>
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

// Pixels of the path's colour in each third of the strip's width.
std::array<int, 3> colouredPixelsByThird(PersonStrip& strip)
{
    const QImage image = strip.grab().toImage();
    std::array<int, 3> counts{};
    const QColor want = PersonStrip::pathColour();
    for (int y = 0; y < image.height(); ++y)
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
};

QTEST_MAIN(PersonStripTest)
#include "PersonStripTest.moc"

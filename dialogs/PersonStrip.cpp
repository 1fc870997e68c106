#include "dialogs/PersonStrip.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kRows = 3;  // last, current, next
constexpr int kMargin = 6;
constexpr double kLargeScale = 1.9;
// Rows and places spaced wider than text, so that the path shows between them.
constexpr double kRowSpacing = 1.45;
constexpr double kPlaceSpacing = 1.7;

// The place of `bell` in `row`, 1-based; 0 when it is not there.
int placeOf(const std::string& row, int bell)
{
    static constexpr std::string_view kSymbols = "1234567890ET";
    if (bell < 1 || bell > static_cast<int>(kSymbols.size()))
        return 0;
    const auto at = row.find(kSymbols[static_cast<std::size_t>(bell - 1)]);
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

QFont largeFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * kLargeScale);
    font.setBold(true);
    return font;
}

} // namespace

QString placeName(int place)
{
    if (place == 1)
        return QObject::tr("Lead");
    if (place == 2)
        return QObject::tr("2nds");
    if (place == 3)
        return QObject::tr("3rds");
    return QObject::tr("%1ths").arg(place);
}

PersonStrip::PersonStrip(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("personStrip"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // A key meant for the bell must never land here.
    setFocusPolicy(Qt::NoFocus);
}

QSize PersonStrip::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QFontMetrics large(largeFont(font()));
    const int rows = static_cast<int>(kRows * kRowSpacing * metrics.lineSpacing());
    const int height = std::max(rows, metrics.lineSpacing() + handCount() * large.lineSpacing());
    return {metrics.horizontalAdvance(QString(16, QLatin1Char('0'))), height + 2 * kMargin};
}

bool PersonStrip::ringsAny() const
{
    return shown.assigned && shown.ringing && (shown.rung || (shown.secondBell != 0 && shown.secondRung));
}

void PersonStrip::showPath(const PersonPath& path)
{
    const bool resized = (path.secondBell != 0 ? 2 : 1) != handCount();
    shown = path;
    for (int hand = 0; hand < 2; ++hand) {
        nowText[hand].clear();
        nextText[hand].clear();
    }
    noteText = noteFor(path);
    noteOnly = !ringsAny();
    if (!noteOnly) {
        for (int hand = 0; hand < handCount(); ++hand) {
            if (!(hand == 0 ? path.rung : path.secondRung))
                continue;
            if (const int now = placeOf(path.currentRow, bellOf(hand)))
                nowText[hand] = placeName(now);
            if (const int next = placeOf(path.nextRow, bellOf(hand)))
                nextText[hand] = placeName(next);
        }
    }
    setToolTip(noteText);
    if (resized)
        updateGeometry();
    update();
}

// What is said instead of the places, or beside them when one of two bells
// is not Tolvane's; empty while every bell is rung.
QString PersonStrip::noteFor(const PersonPath& path)
{
    const int first = path.bell;
    const int second = path.secondBell;
    if (second == 0) {
        if (!path.assigned)
            return tr("Bell %1 is yours once the tower gives Tolvane its bells").arg(first);
        if (!path.rung)
            return tr("Tolvane was not given bell %1: nothing is rung by hand").arg(first);
        if (!path.ringing)
            return tr("Bell %1 is yours: Space, J or F strikes it").arg(first);
        return {};
    }
    if (!path.assigned)
        return tr("Bells %1 and %2 are yours once the tower gives Tolvane its bells").arg(first).arg(second);
    if (!path.rung && !path.secondRung)
        return tr("Tolvane was not given bells %1 and %2: nothing is rung by hand").arg(first).arg(second);
    if (!path.rung)
        return tr("Tolvane was not given bell %1: F strikes nothing").arg(first);
    if (!path.secondRung)
        return tr("Tolvane was not given bell %1: J strikes nothing").arg(second);
    if (!path.ringing)
        return tr("Bells %1 and %2 are yours: F strikes %1, J strikes %2").arg(first).arg(second);
    return {};
}

void PersonStrip::showNote(const QString& text)
{
    for (int hand = 0; hand < 2; ++hand) {
        nowText[hand].clear();
        nextText[hand].clear();
    }
    noteText = text;
    noteOnly = true;
    setToolTip(noteText);
    update();
}

void PersonStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (noteOnly) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, noteText);
        return;
    }
    const int split = area.width() * 9 / 20;
    paintPlaces(painter, QRect(area.left(), area.top(), split, area.height()));
    paintRows(painter, QRect(area.left() + split, area.top(), area.width() - split, area.height()));
}

// "now" and "next" in small type over the places in large, a line for each
// hand's bell; a bell that is not Tolvane's is said to be so in its line.
void PersonStrip::paintPlaces(QPainter& painter, const QRect& area)
{
    const QFontMetrics small(font());
    const QFont large = largeFont(font());
    const int lineHeight = QFontMetrics(large).lineSpacing();
    const int half = area.width() / 2;
    const QString captions[] = {tr("now"), tr("next")};
    const int top = area.top() + small.lineSpacing()
                    + std::max(0, (area.height() - small.lineSpacing() - handCount() * lineHeight) / 2);
    for (int i = 0; i < 2; ++i) {
        const QRect column(area.left() + i * half, area.top(), half, area.height());
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(column, Qt::AlignHCenter | Qt::AlignTop, captions[i]);
    }
    for (int hand = 0; hand < handCount(); ++hand) {
        const QRect line(area.left(), top + hand * lineHeight, area.width(), lineHeight);
        if (!(hand == 0 ? shown.rung : shown.secondRung)) {
            painter.setFont(font());
            painter.setPen(pathColour(hand));
            painter.drawText(line, Qt::AlignCenter, tr("bell %1 not given").arg(bellOf(hand)));
            continue;
        }
        painter.setFont(large);
        const QString places[] = {nowText[hand], nextText[hand]};
        for (int i = 0; i < 2; ++i) {
            // With one bell the place to come is in the text's colour, as it always was.
            const bool coloured = i == 0 || handCount() == 2;
            painter.setPen(coloured ? pathColour(hand) : palette().color(QPalette::WindowText));
            painter.drawText(QRect(line.left() + i * half, line.top(), half, lineHeight), Qt::AlignCenter,
                             places[i].isEmpty() ? QStringLiteral("\u2013") : places[i]);
        }
    }
}

// The rows one above the other, the person's bells in colour; each one's
// path joins its places over the other bells, as a line is drawn.
void PersonStrip::paintRows(QPainter& painter, const QRect& area)
{
    const std::string rows[kRows] = {shown.lastRow, shown.currentRow, shown.nextRow};
    const QFontMetrics metrics(font());
    const double places = std::max<double>(1.0, static_cast<double>(shown.currentRow.size()));
    const double step = std::min(kPlaceSpacing * metrics.horizontalAdvance(QLatin1Char('0')), area.width() / places);
    const double rowStep = kRowSpacing * metrics.lineSpacing();
    const double left = area.left() + (area.width() - step * places) / 2;
    const double top = area.top() + (area.height() - kRows * rowStep) / 2;
    const auto centre = [&](int row, int place) {
        return QPointF(left + (place - 0.5) * step, top + (row + 0.5) * rowStep);
    };
    const auto drawBell = [&](int row, int place, const QColor& colour, bool bold) {
        QFont glyph = font();
        glyph.setBold(bold);
        painter.setFont(glyph);
        painter.setPen(colour);
        const QPointF at = centre(row, place);
        const QRectF cell(at.x() - step / 2, at.y() - metrics.lineSpacing() / 2.0, step, metrics.lineSpacing());
        painter.drawText(cell, Qt::AlignCenter, QString(QLatin1Char(rows[row][static_cast<std::size_t>(place - 1)])));
    };
    // Only a bell Tolvane was given is drawn as the person's.
    const auto ownPlace = [&](int row, int hand) {
        const bool rung = hand == 0 ? shown.rung : shown.secondRung;
        return rung ? placeOf(rows[row], bellOf(hand)) : 0;
    };

    const QColor text = palette().color(QPalette::WindowText);
    const QColor faint = palette().color(QPalette::PlaceholderText);
    for (int r = 0; r < kRows; ++r)
        for (int place = 1; place <= static_cast<int>(rows[r].size()); ++place)
            if (place != ownPlace(r, 0) && (handCount() == 1 || place != ownPlace(r, 1)))
                drawBell(r, place, r == 1 ? text : faint, r == 1);
    for (int hand = 0; hand < handCount(); ++hand) {
        QPainterPath line;
        for (int r = 0; r < kRows; ++r)
            if (const int own = ownPlace(r, hand))
                line.elementCount() == 0 ? line.moveTo(centre(r, own)) : line.lineTo(centre(r, own));
        painter.setPen(QPen(pathColour(hand), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(line);
    }
    // Each bell itself over its path, on a spot of the window's colour.
    for (int hand = 0; hand < handCount(); ++hand) {
        for (int r = 0; r < kRows; ++r) {
            if (const int own = ownPlace(r, hand)) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(palette().color(QPalette::Window));
                painter.drawEllipse(centre(r, own), metrics.height() * 0.45, metrics.height() * 0.45);
                drawBell(r, own, pathColour(hand), true);
            }
        }
    }
}

#include "dialogs/PersonStrip.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr int kMargin = 6;
constexpr double kLargeScale = 1.9;
// The lead's drawing is as tall as this many lines of text whatever the
// stage, so the window keeps its size from tower to tower.
constexpr int kLeadLines = 6;

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

// Without the lead the engine's last, current and next rows stand for it.
std::vector<std::string> rowsToDraw(const PersonPath& path, int& current)
{
    if (!path.leadRows.empty()) {
        current = std::clamp(path.rowInLead, 0, static_cast<int>(path.leadRows.size()) - 1);
        return path.leadRows;
    }
    std::vector<std::string> rows;
    if (!path.lastRow.empty())
        rows.push_back(path.lastRow);
    current = static_cast<int>(rows.size());
    rows.push_back(path.currentRow);
    if (!path.nextRow.empty())
        rows.push_back(path.nextRow);
    return rows;
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
    const int places = metrics.lineSpacing() + 2 * large.lineSpacing();
    return {metrics.horizontalAdvance(QString(16, QLatin1Char('0'))),
            places + kLeadLines * metrics.lineSpacing() + 3 * kMargin};
}

bool PersonStrip::ringsAny() const
{
    return shown.assigned && shown.ringing && (shown.rung || (shown.secondBell != 0 && shown.secondRung));
}

void PersonStrip::showPath(const PersonPath& path)
{
    shown = path;
    clearPlaces();
    noteText = noteFor(path);
    noteOnly = !ringsAny();
    lead = rowsToDraw(path, rowMarked);
    if (!noteOnly) {
        strokeText = path.handstroke ? QStringLiteral("H") : QStringLiteral("B");
        for (int hand = 0; hand < handCount(); ++hand) {
            if (!(hand == 0 ? path.rung : path.secondRung))
                continue;
            if (const int now = placeOf(path.currentRow, bellOf(hand)))
                nowText[hand] = placeName(now);
            if (const int next = placeOf(path.nextRow, bellOf(hand)))
                nextText[hand] = placeName(next);
            if (const int end = placeOf(path.leadRows.empty() ? std::string() : path.leadRows.back(), bellOf(hand)))
                leadEndText[hand] = placeName(end);
        }
    }
    setToolTip(noteOnly ? noteText
                        : tr("The lead being rung, left to right: your bell's line in colour, the treble's faint, "
                             "the row being rung marked, and your place at the lead's end on the right"));
    update();
}

void PersonStrip::clearPlaces()
{
    for (int hand = 0; hand < 2; ++hand) {
        nowText[hand].clear();
        nextText[hand].clear();
        leadEndText[hand].clear();
    }
    strokeText.clear();
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
    clearPlaces();
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
    const int places = QFontMetrics(font()).lineSpacing() + handCount() * QFontMetrics(largeFont(font())).lineSpacing();
    paintPlaces(painter, QRect(area.left(), area.top(), area.width(), places));
    paintLead(painter, QRect(area.left(), area.top() + places + kMargin, area.width(), area.height() - places - kMargin));
}

// "now", "next" and "stroke" in small type over the places and the stroke in
// large, a line for each hand's bell; a bell that is not Tolvane's is said to
// be so in its line.
void PersonStrip::paintPlaces(QPainter& painter, const QRect& area)
{
    const QFontMetrics small(font());
    const QFont large = largeFont(font());
    const int lineHeight = QFontMetrics(large).lineSpacing();
    const int column = area.width() / 3;
    const QString captions[] = {tr("now"), tr("next"), tr("stroke")};
    const int top = area.top() + small.lineSpacing();
    for (int i = 0; i < 3; ++i) {
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(QRect(area.left() + i * column, area.top(), column, small.lineSpacing()),
                         Qt::AlignHCenter | Qt::AlignTop, captions[i]);
    }
    painter.setFont(large);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(area.left() + 2 * column, top, column, handCount() * lineHeight), Qt::AlignCenter,
                     strokeText.isEmpty() ? QStringLiteral("\u2013") : strokeText);
    for (int hand = 0; hand < handCount(); ++hand) {
        const QRect line(area.left(), top + hand * lineHeight, 2 * column, lineHeight);
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
            painter.drawText(QRect(line.left() + i * column, line.top(), column, lineHeight), Qt::AlignCenter,
                             places[i].isEmpty() ? QStringLiteral("\u2013") : places[i]);
        }
    }
}

// The lead's rows left to right and the places top (lead) to bottom: the
// treble's line faint, the person's bells' lines over it in their colours, a
// bar at the row being rung, and each bell's place at the lead's end named
// beside where its line ends.
void PersonStrip::paintLead(QPainter& painter, const QRect& area)
{
    const int stage = lead.empty() ? 0 : static_cast<int>(lead.front().size());
    if (stage == 0 || area.height() <= 0)
        return;
    const QFontMetrics metrics(font());
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral(" 12ths "));
    const double rowStep = static_cast<double>(area.width() - labelWidth) / std::max<std::size_t>(1, lead.size() - 1);
    const double placeStep = static_cast<double>(area.height()) / stage;
    const auto point = [&](int row, int place) {
        return QPointF(area.left() + row * rowStep, area.top() + (place - 0.5) * placeStep);
    };
    const auto line = [&](int bell) {
        QPainterPath path;
        for (int row = 0; row < static_cast<int>(lead.size()); ++row)
            if (const int place = placeOf(lead[static_cast<std::size_t>(row)], bell))
                path.elementCount() == 0 ? path.moveTo(point(row, place)) : path.lineTo(point(row, place));
        return path;
    };

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(palette().color(QPalette::Midlight), 1.0));
    for (int place = 1; place <= stage; ++place)
        painter.drawLine(point(0, place), point(static_cast<int>(lead.size()) - 1, place));
    QColor marked = palette().color(QPalette::Highlight);
    marked.setAlpha(90);
    painter.setPen(QPen(marked, std::max(3.0, rowStep * 0.6)));
    painter.drawLine(QPointF(point(rowMarked, 1).x(), area.top()), QPointF(point(rowMarked, 1).x(), area.bottom()));
    painter.setPen(QPen(palette().color(QPalette::PlaceholderText), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line(1));

    for (int hand = 0; hand < handCount(); ++hand) {
        if (!(hand == 0 ? shown.rung : shown.secondRung))
            continue;
        painter.setPen(QPen(pathColour(hand), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(line(bellOf(hand)));
        if (const int now = placeOf(lead[static_cast<std::size_t>(rowMarked)], bellOf(hand))) {
            painter.setBrush(pathColour(hand));
            painter.drawEllipse(point(rowMarked, now), 3.5, 3.5);
        }
        const int end = placeOf(lead.back(), bellOf(hand));
        if (end == 0 || leadEndText[hand].isEmpty())
            continue;
        const QPointF at = point(static_cast<int>(lead.size()) - 1, end);
        painter.setFont(font());
        painter.drawText(QRectF(at.x() + 4, at.y() - metrics.lineSpacing() / 2.0, labelWidth, metrics.lineSpacing()),
                         Qt::AlignLeft | Qt::AlignVCenter, leadEndText[hand]);
    }
}

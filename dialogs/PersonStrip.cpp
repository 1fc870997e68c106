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
    const int height = std::max(rows, metrics.lineSpacing() + large.lineSpacing());
    return {metrics.horizontalAdvance(QString(16, QLatin1Char('0'))), height + 2 * kMargin};
}

void PersonStrip::showPath(const PersonPath& path)
{
    shown = path;
    nowText.clear();
    nextText.clear();
    noteText.clear();
    if (!path.assigned)
        noteText = tr("Bell %1 is yours once the tower gives Tolvane its bells").arg(path.bell);
    else if (!path.rung)
        noteText = tr("Tolvane was not given bell %1: nothing is rung by hand").arg(path.bell);
    else if (!path.ringing)
        noteText = tr("Bell %1 is yours: Space, J or F strikes it").arg(path.bell);
    if (noteText.isEmpty()) {
        if (const int now = placeOf(path.currentRow, path.bell))
            nowText = placeName(now);
        if (const int next = placeOf(path.nextRow, path.bell))
            nextText = placeName(next);
    }
    setToolTip(noteText);
    update();
}

void PersonStrip::showNote(const QString& text)
{
    nowText.clear();
    nextText.clear();
    noteText = text;
    setToolTip(noteText);
    update();
}

void PersonStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    if (!noteText.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, noteText);
        return;
    }
    const int split = area.width() * 9 / 20;
    paintPlaces(painter, QRect(area.left(), area.top(), split, area.height()));
    paintRows(painter, QRect(area.left() + split, area.top(), area.width() - split, area.height()));
}

// "now" and "next" in small type over the two places in large.
void PersonStrip::paintPlaces(QPainter& painter, const QRect& area)
{
    const QFontMetrics small(font());
    const QFont large = largeFont(font());
    const int half = area.width() / 2;
    const QString captions[] = {tr("now"), tr("next")};
    const QString places[] = {nowText, nextText};
    for (int i = 0; i < 2; ++i) {
        const QRect column(area.left() + i * half, area.top(), half, area.height());
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(column, Qt::AlignHCenter | Qt::AlignTop, captions[i]);
        painter.setFont(large);
        painter.setPen(i == 0 ? pathColour() : palette().color(QPalette::WindowText));
        painter.drawText(column.adjusted(0, small.lineSpacing(), 0, 0), Qt::AlignHCenter | Qt::AlignVCenter,
                         places[i].isEmpty() ? QStringLiteral("\u2013") : places[i]);
    }
}

// The rows one above the other, the person's bell in colour; its path
// joins its places over the other bells, as a blue line is drawn.
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

    const QColor text = palette().color(QPalette::WindowText);
    const QColor faint = palette().color(QPalette::PlaceholderText);
    QPainterPath line;
    for (int r = 0; r < kRows; ++r) {
        const int own = placeOf(rows[r], shown.bell);
        for (int place = 1; place <= static_cast<int>(rows[r].size()); ++place)
            if (place != own)
                drawBell(r, place, r == 1 ? text : faint, r == 1);
        if (own)
            line.elementCount() == 0 ? line.moveTo(centre(r, own)) : line.lineTo(centre(r, own));
    }
    painter.setPen(QPen(pathColour(), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line);
    // The bell itself over its path, on a spot of the window's colour.
    for (int r = 0; r < kRows; ++r) {
        if (const int own = placeOf(rows[r], shown.bell)) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette().color(QPalette::Window));
            painter.drawEllipse(centre(r, own), metrics.height() * 0.45, metrics.height() * 0.45);
            drawBell(r, own, pathColour(), true);
        }
    }
}

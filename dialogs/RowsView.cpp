#include "dialogs/RowsView.h"

#include <QPainter>

QChar bellSymbol(int bell)
{
    static constexpr char kSymbols[] = "1234567890ET";
    if (bell < 1 || bell > 12)
        return {};
    return QLatin1Char(kSymbols[bell - 1]);
}

RowsView::RowsView(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void RowsView::setMarks(const QMap<QChar, Mark>& marks)
{
    bellMarks = marks;
    update();
}

// Every character in a cell of the plain font's width, so a bold bell takes
// no more room than a plain one and the columns stay true.
void RowsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QStringList lines = text().split(QLatin1Char('\n'));
    const QFontMetrics metrics(font());
    const int cell = metrics.horizontalAdvance(QLatin1Char('0'));
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QFont bold = font();
    bold.setBold(true);
    const QColor plain = palette().color(QPalette::WindowText);
    for (int line = 0; line < lines.size(); ++line) {
        const QString& row = lines[line];
        const int y = area.top() + line * metrics.lineSpacing();
        int x = area.left() + (area.width() - cell * static_cast<int>(row.size())) / 2;
        for (const QChar symbol : row) {
            const auto mark = bellMarks.constFind(symbol);
            const bool marked = mark != bellMarks.constEnd();
            painter.setFont(marked && mark->bold ? bold : font());
            painter.setPen(marked && mark->colour.isValid() ? mark->colour : plain);
            painter.drawText(QRect(x, y, cell, metrics.lineSpacing()), Qt::AlignCenter, QString(symbol));
            x += cell;
        }
    }
}

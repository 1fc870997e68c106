#pragma once

#include <QColor>
#include <QLabel>
#include <QMap>

// The last rows rung, one under another in a fixed-width font, with some
// bells marked: Tolvane's in bold, the person's in bold and the colour of
// their line. The rows come from the network, so they are only ever drawn as
// text, a character to a cell, never read as markup; text() stays the plain rows.
class RowsView : public QLabel {
public:
    explicit RowsView(QWidget* parent = nullptr);

    struct Mark {
        bool bold = true;
        QColor colour;  // invalid: the text's own colour
    };
    // Keyed by the bell's symbol in the rows ('1'..'9', '0', 'E', 'T').
    void setMarks(const QMap<QChar, Mark>& marks);
    const QMap<QChar, Mark>& marks() const { return bellMarks; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QMap<QChar, Mark> bellMarks;
};

// The symbol bells are known by in rows: 1..9, 0 for 10, E for 11, T for 12.
QChar bellSymbol(int bell);

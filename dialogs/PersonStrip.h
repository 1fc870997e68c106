#pragma once

#include "engine/EngineOutput.h"

#include <QWidget>

// Under the rows the window shows, where the bells a person rings go: their
// places now and in the next row and the stroke of the row being rung in
// large type, and under them the whole lead drawn as the lines ringers learn
// a method from, rows running left to right, the lead's place at its end: the
// left hand's bell in blue, the right hand's in red, the treble faint behind
// them and the row being rung marked. Row text is the engine's; a row
// without the bell draws no path.
class PersonStrip : public QWidget {
public:
    explicit PersonStrip(QWidget* parent = nullptr);

    void showPath(const PersonPath& path);
    void showNote(const QString& text);

    // What the strip says: the places ("3rds", "4ths") of each hand's bell
    // while ringing, or a note when there is nothing to ring or a bell is
    // not Tolvane's.
    QString currentPlace(int hand = 0) const { return nowText[hand]; }
    QString nextPlace(int hand = 0) const { return nextText[hand]; }
    // "H" or "B": the stroke of the row being rung, where the bells' next blows are.
    QString stroke() const { return strokeText; }
    // The place the hand's bell takes at the end of the lead being rung.
    QString leadEndPlace(int hand = 0) const { return leadEndText[hand]; }
    QString note() const { return noteText; }

    static QColor pathColour(int hand = 0)
    {
        return hand == 0 ? QColor(0x1c, 0x5f, 0xd0) : QColor(0xd0, 0x2a, 0x1c);
    }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintPlaces(QPainter& painter, const QRect& area);
    void paintLead(QPainter& painter, const QRect& area);
    void clearPlaces();
    int handCount() const { return shown.secondBell != 0 ? 2 : 1; }
    int bellOf(int hand) const { return hand == 0 ? shown.bell : shown.secondBell; }
    bool ringsAny() const;
    static QString noteFor(const PersonPath& path);

    PersonPath shown;
    QString nowText[2];
    QString nextText[2];
    QString leadEndText[2];
    QString strokeText;
    QString noteText;
    // The rows drawn: the lead, or the last, current and next rows when the
    // lead is not known; `rowMarked` is the current row's index among them.
    std::vector<std::string> lead;
    int rowMarked = 0;
    bool noteOnly = true;  // the note alone is drawn: nothing is rung by hand now
};

// "Lead", "2nds", "3rds", "4ths" ... as ringers name a place.
QString placeName(int place);

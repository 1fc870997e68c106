#pragma once

#include "engine/EngineOutput.h"

#include <QWidget>

// Under the rows the window shows, where the bell a person rings goes: its
// place now and in the next row in large type, and the last, current and
// next rows with that bell in colour and its path drawn through them, as the
// blue line ringers learn a method from. Row text is the engine's; a row
// without the bell draws no path.
class PersonStrip : public QWidget {
public:
    explicit PersonStrip(QWidget* parent = nullptr);

    void showPath(const PersonPath& path);
    void showNote(const QString& text);

    // What the strip says: its places ("3rds", "4ths") while ringing, or a
    // note when there is nothing to ring.
    QString currentPlace() const { return nowText; }
    QString nextPlace() const { return nextText; }
    QString note() const { return noteText; }

    static QColor pathColour() { return QColor(0x1c, 0x5f, 0xd0); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintPlaces(QPainter& painter, const QRect& area);
    void paintRows(QPainter& painter, const QRect& area);

    PersonPath shown;
    QString nowText;
    QString nextText;
    QString noteText;
};

// "Lead", "2nds", "3rds", "4ths" ... as ringers name a place.
QString placeName(int place);

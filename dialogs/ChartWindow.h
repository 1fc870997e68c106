#pragma once

#include <QByteArray>
#include <QDialog>

class QSvgWidget;

// A touch's striking chart, drawn in a window of its own at its own size
// (scrolled when larger than the screen allows), with Save As... to keep it.
class ChartWindow : public QDialog {
public:
    explicit ChartWindow(QWidget* parent = nullptr);

    // False, with nothing shown, when the bytes are no SVG Qt can draw.
    bool showChart(const QByteArray& svg);
    // Writes the chart as it was given; the reason it failed, or empty.
    QString saveTo(const QString& path) const;
    const QByteArray& chart() const { return svgBytes; }

private:
    void saveAs();

    QSvgWidget* view = nullptr;
    QByteArray svgBytes;
};

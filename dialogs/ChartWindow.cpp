#include "dialogs/ChartWindow.h"

#include "dialogs/PlainMessageBox.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QVBoxLayout>

namespace {

// The window opens no larger than this; a larger chart scrolls.
constexpr QSize kLargestView(1000, 700);

} // namespace

ChartWindow::ChartWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("chartWindow"));
    setWindowTitle(tr("Striking chart"));
    auto* layout = new QVBoxLayout(this);
    view = new QSvgWidget;
    view->setObjectName(QStringLiteral("chartView"));
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(view);
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setBackgroundRole(QPalette::Base);
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* save = buttons->addButton(tr("Save As..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("saveChartButton"));
    connect(save, &QPushButton::clicked, this, [this] { saveAs(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool ChartWindow::showChart(const QByteArray& svg)
{
    view->load(svg);
    if (!view->renderer()->isValid()) {
        svgBytes.clear();
        view->load(QByteArray());
        return false;
    }
    svgBytes = svg;
    const QSize size = view->renderer()->defaultSize();
    view->setFixedSize(size);
    const QMargins frame(24, 24, 24, 24);
    resize(size.grownBy(frame).boundedTo(kLargestView).expandedTo(QSize(320, 200)) + QSize(0, 48));
    return true;
}

QString ChartWindow::saveTo(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(svgBytes) != svgBytes.size() || !file.commit())
        return file.errorString();
    return {};
}

void ChartWindow::saveAs()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = QFileDialog::getSaveFileName(this, tr("Save the striking chart"),
                                                      folder + QStringLiteral("/striking.svg"),
                                                      tr("SVG pictures (*.svg)"));
    if (path.isEmpty())
        return;
    if (const QString failure = saveTo(path); !failure.isEmpty())
        showPlainMessage(this, tr("Could not save the striking chart to %1: %2").arg(path, failure));
}

#include "dialogs/TowerDialog.h"

#include "dialogs/Latin1.h"
#include "dialogs/PlainMessageBox.h"
#include "ui_TowerDialog.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QMouseEvent>
#include <QTreeWidgetItem>

namespace {

constexpr int kNameColumn = 0;
constexpr int kDescriptionColumn = 1;
constexpr int kNameColumnWidth = 100;
constexpr int kDescriptionColumnWidth = 200;
// Each row carries the name as received, so the join request names the tower
// in exactly the server's bytes whatever the view does with the shown text.
constexpr int kNameBytesRole = Qt::UserRole;

bool isLeftDoubleClick(const QEvent* event)
{
    return event->type() == QEvent::MouseButtonDblClick
        && static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

} // namespace

TowerDialog::TowerDialog(const TowerList& towers, QWidget* parent, TellUser tellUser)
    : QDialog(parent), ui(std::make_unique<Ui::TowerDialog>()), tellUser(std::move(tellUser))
{
    ui->setupUi(this);
    setUpColumns();
    fillList(towers);

    // The view reports double-clicks only on rows; the viewport sees them all.
    ui->towerListView->viewport()->installEventFilter(this);
    connect(ui->towerListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TowerDialog::markSelection);
    connect(ui->okButton, &QPushButton::clicked, this, &TowerDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &TowerDialog::reject);
    // With one tower there is nothing to choose: OK joins it.
    if (ui->towerListView->topLevelItemCount() == 1)
        ui->towerListView->setCurrentItem(ui->towerListView->topLevelItem(0));
}

TowerDialog::~TowerDialog() = default;

void TowerDialog::setUpColumns()
{
    ui->towerListView->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ui->towerListView->setColumnWidth(kNameColumn, kNameColumnWidth);
    ui->towerListView->setColumnWidth(kDescriptionColumn, kDescriptionColumnWidth);
}

void TowerDialog::fillList(const TowerList& towers)
{
    for (const auto& [name, description] : towers) {
        auto* row = new QTreeWidgetItem(ui->towerListView);
        row->setText(kNameColumn, latin1Text(name));
        row->setData(kNameColumn, kNameBytesRole,
                     QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        row->setText(kDescriptionColumn, latin1Text(description));
    }
}

void TowerDialog::markSelection(const QItemSelection& selected)
{
    // A cleared selection leaves the mark where it was.
    if (!selected.isEmpty())
        selectionMark = selected.indexes().constFirst().row();
}

void TowerDialog::accept()
{
    const QTreeWidgetItem* row = ui->towerListView->topLevelItem(selectionMark);
    if (row == nullptr) {
        const std::string request = "Please select a tower";
        if (tellUser)
            tellUser(request);
        else
            showPlainMessage(this, QString::fromLatin1(request.c_str()));
        return;
    }
    const QByteArray name = row->data(kNameColumn, kNameBytesRole).toByteArray();
    selectedTower.assign(name.constData(), static_cast<std::size_t>(name.size()));
    QDialog::accept();
}

bool TowerDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (isLeftDoubleClick(event) && watched == ui->towerListView->viewport()) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

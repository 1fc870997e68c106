#pragma once

#include "ringer/RingerHost.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class TowerDialog;
}
class QItemSelection;

// "Join a Tower": shows the towers in the order given and hands back the name
// of the one the user confirms, as the bytes the server sent.
class TowerDialog : public QDialog {
    Q_OBJECT

public:
    // How the dialog tells the user something; without one it opens its own box.
    using TellUser = std::function<void(const std::string&)>;

    explicit TowerDialog(const TowerList& towers, QWidget* parent = nullptr, TellUser tellUser = {});
    ~TowerDialog() override;

    // Empty until the user confirms a tower.
    std::string selectedTower;

    // Run by OK, Enter and a double-click in the list: confirms the row the
    // user last selected, or asks for one and leaves the dialog open.
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpColumns();
    void fillList(const TowerList& towers);
    void markSelection(const QItemSelection& selected);

    std::unique_ptr<Ui::TowerDialog> ui;
    TellUser tellUser;
    // The row the user last selected. It outlasts the visible selection, and
    // unlike the current row it is never set by the view on its own.
    int selectionMark = -1;
};

#pragma once

#include "engine/RhythmSettings.h"
#include "engine/RingingEngine.h"
#include "sound/SoundSettings.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class OptionsDialog;
}

// "Options": the server used when the command line chooses none, how
// Tolvane times its blows, and the bells' sound. Shows the fields when it opens; OK hands back what
// the controls hold.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit OptionsDialog(QWidget* parent = nullptr);
    ~OptionsDialog() override;

    // Shown when the dialog opens, replaced by the controls' contents on OK
    // and left as they were on Cancel.
    std::string serverHost;  // empty: no server of the user's own
    int serverPort = 0;
    RhythmSettings rhythm;
    // The bells the user rings at the keyboard, 1..12, the left hand's first;
    // 0 none. OK is refused while both name the same bell.
    PersonBells personBells{};
    bool reconnect = false;  // a lost connection is made again
    SoundSettings sound;
    // Shown in the empty host field: the server used when none is saved.
    std::string defaultServerHost;

    // The question before connecting: the server's fields only, as nothing
    // else chosen there would be kept.
    void askForServerOnly();

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void alignFieldColumns();
    void showFields();
    void readFields();
    void showSecondBellChoice();

    std::unique_ptr<Ui::OptionsDialog> ui;
    double shownGap = 0;      // what the boxes showed when the dialog opened
    double shownInertia = 0;
    int shownVolume = 0;
    QString personNoteText;  // the note under the bells, when nothing is wrong with them
};

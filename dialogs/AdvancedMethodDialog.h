#pragma once

#include "method/Method.h"

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class AdvancedMethodDialog;
}

// "Advanced Method Setup": the six method settings as free text and the
// go-and-stop list, and a calling by positions with its observation bell.
// The notations and composition are not checked; OK hands back what was
// typed. A calling, when given, fills the composition with its expansion, and
// OK waits until the calling can be expanded. The touch's length and truth
// are shown as the fields change.
class AdvancedMethodDialog : public QDialog {
    Q_OBJECT

public:
    explicit AdvancedMethodDialog(QWidget* parent = nullptr);
    ~AdvancedMethodDialog() override;

    // Shown when the dialog opens, replaced by the controls' contents on OK
    // and left as they were on Cancel.
    int goAndStopIndex = -1;
    std::string bobNotation;
    std::string composition;
    std::string placeNotation;
    std::string singleNotation;
    std::string startChange;
    std::string calling;
    int observationBell = 0;  // 0 the heaviest

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showFields();
    void readFields();
    MethodSettings typedSettings() const;
    // Fills the composition from the calling, if any, and shows the proof.
    void showTouch();

    std::string typedComposition;  // what the composition field holds without a calling
    bool showingCalling = false;

    std::unique_ptr<Ui::AdvancedMethodDialog> ui;
};

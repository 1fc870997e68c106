#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class AdvancedMethodDialog;
}

// "Advanced Method Setup": the six method settings as free text and the
// go-and-stop list. Nothing is checked; OK hands back what was typed.
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

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showFields();
    void readFields();

    std::unique_ptr<Ui::AdvancedMethodDialog> ui;
};

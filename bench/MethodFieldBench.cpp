// The Method field of Method Setup with every title of a full-size
// collection loaded: how long the dialog takes to open and each keystroke
// to answer with its list of matches. Prints the figures; not a test.
// Run with QT_QPA_PLATFORM=offscreen where there is no display.

#include "dialogs/MethodSetupDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kImported = 17000;

// The shipped methods, and as many again renamed, as an import would add them.
MethodLibrary fullLibrary()
{
    std::ifstream in(std::string(TOLVANE_SOURCE_DIR) + "/data/methods.txt", std::ios::binary);
    MethodLibrary library = readMethodLibrary(in);
    std::vector<MethodDef> shipped;
    for (const auto& [number, record] : library)
        shipped.push_back(record);
    std::vector<MethodDef> imported;
    for (int i = 0; i < kImported; ++i) {
        MethodDef m = shipped[static_cast<std::size_t>(i) % shipped.size()];
        m.name = "M" + std::to_string(i) + " " + m.name;
        m.classification = m.name.find("Surprise") != std::string::npos ? "Surprise" : "Bob";
        m.imported = true;
        imported.push_back(std::move(m));
    }
    library.addMissing(std::move(imported));
    return library;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const MethodLibrary library = fullLibrary();
    QElapsedTimer clock;
    clock.start();
    MethodSetupDialog dialog(library);
    dialog.show();

    QApplication::processEvents();
    std::printf("Method Setup with %zu titles: opens in %lld ms\n", library.size(),
                static_cast<long long>(clock.elapsed()));
    QLineEdit* field = dialog.findChild<QComboBox*>("methodList")->lineEdit();
    std::vector<double> times;
    for (const QString& typed : {QString("Cambridge Surprise Major"), QString("surprise royal"), QString("m12 bob")}) {
        field->clear();
        for (const QChar c : typed) {
            clock.restart();
            QTest::keyClick(field, c.toLatin1());
            QApplication::processEvents();
            times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("keystroke in the Method field, list shown: median %.1f ms, worst %.1f ms over %zu keystrokes\n",
                times[times.size() / 2], times.back(), times.size());
}

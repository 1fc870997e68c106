#include "app/RingerApp.h"

#include "app/RingerDialog.h"

#include <cstdio>

RingerApp::RingerApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setWindowIcon(bellIcon());
}

int RingerApp::run(const Options& options)
{
    RingerDialog dialog(options);
    if (const std::string problem = dialog.prepare(); !problem.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
        return 2;
    }
    dialog.watchTerminationSignals();
    dialog.start();
    dialog.exec();
    return dialog.exitCode();
}

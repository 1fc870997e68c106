#include "app/RingerApp.h"

#include "app/RingerDialog.h"


RingerApp::RingerApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setWindowIcon(bellIcon());
}

int RingerApp::run(const Options& options)
{
    RingerDialog dialog(options);
    return runShell(dialog, [&dialog] { dialog.exec(); });
}

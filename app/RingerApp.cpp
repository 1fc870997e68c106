#include "app/RingerApp.h"

#include "app/RingerDialog.h"

RingerApp::RingerApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setWindowIcon(bellIcon());
}

int RingerApp::run(Options options, bool serverUnset)
{
    // The desktop entry runs plain `tolvane`: without this the first sight of
    // the program would be a failed connection to the placeholder server.
    if (serverUnset && !askForFirstServer(options))
        return 1;
    RingerDialog dialog(options);
    return runShell(dialog, [&dialog] { dialog.exec(); });
}

bool askForFirstServer(Options& options)
{
    return askForServer(options, kLocalServerHost, kServerPort);
}

#include "app/RingerApp.h"

#include "app/RingerDialog.h"
#include "app/SettingsFile.h"

#include "dialogs/OptionsDialog.h"


RingerApp::RingerApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tolvane"));
    setWindowIcon(bellIcon());
}

int RingerApp::run(Options options, bool askForServer)
{
    // The desktop entry runs plain `tolvane`: without this the first sight of
    // the program would be a failed connection to the placeholder server.
    if (askForServer && !askForFirstServer(options))
        return 1;
    RingerDialog dialog(options);
    return runShell(dialog, [&dialog] { dialog.exec(); });
}

bool askForFirstServer(Options& options)
{
    OptionsDialog dialog;
    dialog.askForServerOnly();
    dialog.serverHost = kLocalServerHost;
    dialog.serverPort = kServerPort;
    dialog.defaultServerHost = kLocalServerHost;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options.serverHost = dialog.serverHost.empty() ? kLocalServerHost : dialog.serverHost;
    options.serverPort = dialog.serverPort;
    SavedSettings saved = loadSettings().settings;
    saved.serverHost = options.serverHost;
    saved.serverPort = options.serverPort;
    saveSettings(saved);
    return true;
}

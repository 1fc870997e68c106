#pragma once

#include "app/CommandLine.h"

#include <QApplication>

// The application: runs the main window modally; that loop is the whole run.
class RingerApp : public QApplication {
public:
    RingerApp(int& argc, char** argv);
    // Returns the process's exit status. `askForServer`: nothing chose a
    // server and none is saved, so the user is asked first.
    int run(Options options, bool askForServer);
};

// Asks for the server in the options dialog's server fields, the local
// server filled in; on OK saves it and puts it into `options`. False on Cancel.
bool askForFirstServer(Options& options);

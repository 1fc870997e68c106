#pragma once

#include "app/CommandLine.h"

#include <QApplication>

// The application: runs the main window modally; that loop is the whole run.
class RingerApp : public QApplication {
public:
    RingerApp(int& argc, char** argv);
    // Returns the process's exit status. `serverUnset`: nothing chose a
    // server and none is saved, so the user is asked first.
    int run(Options options, bool serverUnset);
};

// The first start's question for the server (askForServer), the local
// server filled in.
bool askForFirstServer(Options& options);

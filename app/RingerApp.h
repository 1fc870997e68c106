#pragma once

#include "app/CommandLine.h"

#include <QApplication>

// The application: runs the main window modally; that loop is the whole run.
class RingerApp : public QApplication {
public:
    RingerApp(int& argc, char** argv);
    // Returns the process's exit status.
    int run(const Options& options);
};

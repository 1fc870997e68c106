#pragma once

// The real server on loopback for the end-to-end tests: started on a free
// port with one tower of six, "Ash", its log read as it goes, and always
// stopped when the test is done.

#include "method/PlaceNotation.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <string>
#include <vector>

inline const std::vector<std::string> kPlainBobMinor = {"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x"};

// Start row twice, then the changes of the calling (one letter a lead).
inline QStringList touch(const std::string& calling)
{
    std::string row = "123456";
    QStringList rows{"123456", "123456"};
    for (char call : calling) {
        for (const auto& token : kPlainBobMinor)
            rows << QString::fromStdString(row = applyChange(row, token, 6));
        const char* leadEnd = call == 'b' ? "14" : call == 's' ? "1234" : "12";
        rows << QString::fromStdString(row = applyChange(row, leadEnd, 6));
    }
    return rows;
}

// The server, started with `arguments` besides its port, library and tower.
class Server {
public:
    explicit Server(QStringList arguments)
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(TOLVANE_SERVER, QStringList{"--port", "0", "--methods", TOLVANE_METHODS, "--exit-when-done",
                                                  "--tower", "Ash:Six bells:6"}
                                          + arguments);
        if (!QTest::qWaitFor([this] { return readLog().contains("listening on"); }, 10000))
            qWarning("the server did not start");
        const auto match = QRegularExpression("listening on [0-9.]+:(\\d+)").match(log);
        port = match.hasMatch() ? match.captured(1).toInt() : 0;
    }
    ~Server()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
    const QString& readLog()
    {
        log += QString::fromLatin1(process.readAllStandardOutput());
        return log;
    }
    // The whole log, once the server has stood its touch and exited.
    const QString& finalLog()
    {
        process.waitForFinished(10000);
        return readLog();
    }

    QProcess process;
    QString log;
    int port = 0;
};


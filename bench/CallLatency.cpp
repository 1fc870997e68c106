// From a call key to the call on the wire: the window is seated in a tower by
// a peer on loopback, then a key press is handed to the window as Qt hands it
// one and the peer reads the call straight off its socket. Prints, over many
// presses, the time until the window's send had returned (the call has left
// for the socket) and until the peer had the whole message. The time the
// window system takes to deliver the key comes on top; it is not Tolvane's.
//
//   QT_QPA_PLATFORM=offscreen call_latency [PRESSES]

#include "TestPeer.h"

#include "app/RingerDialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double, std::micro>(end - start).count();
}

void printFigures(const char* what, std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[static_cast<std::size_t>(q * static_cast<double>(us.size() - 1))]; };
    std::printf("%-34s median %7.1f us  p90 %7.1f us  p99 %7.1f us  max %7.1f us\n", what, at(0.5), at(0.9), at(0.99),
                us.back());
}

// The whole call message (length word first) off the blocking socket.
bool readCall(int fd)
{
    unsigned char length[2];
    if (::recv(fd, length, 2, MSG_WAITALL) != 2)
        return false;
    const int rest = (length[0] | (length[1] << 8)) - 2;
    std::vector<char> body(static_cast<std::size_t>(std::max(rest, 0)));
    return rest <= 0 || ::recv(fd, body.data(), body.size(), MSG_WAITALL) == rest;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;

    TestPeer peer;
    Options options;
    options.serverHost = "127.0.0.1";
    options.serverPort = peer.port();
    options.tower = "Ash";
    RingerDialog window(options);
    window.show();
    window.start();
    if (!seatInAsh(peer, "6") || !QTest::qWaitFor([&] { return !window.controller().joinedTower().empty(); }, 5000)) {
        std::fprintf(stderr, "call_latency: the window was not seated\n");
        return 1;
    }
    QWidget* focus = window.findChild<QPushButton*>("stopButton");
    const int fd = static_cast<int>(peer.socket->socketDescriptor());

    std::vector<double> sent;
    std::vector<double> arrived;
    for (int i = 0; i < presses; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
        const Clock::time_point start = Clock::now();
        QApplication::sendEvent(focus, &press);
        const Clock::time_point left = Clock::now();
        if (!readCall(fd)) {
            std::fprintf(stderr, "call_latency: press %d sent no call\n", i);
            return 1;
        }
        const Clock::time_point read = Clock::now();
        QApplication::sendEvent(focus, &release);
        sent.push_back(microsSince(start, left));
        arrived.push_back(microsSince(start, read));
    }
    std::printf("%d presses of B (\"Bob\"), window to a peer on loopback\n", presses);
    printFigures("key to the call sent (send returned)", sent);
    printFigures("key to the call read by the peer", arrived);
    return 0;
}

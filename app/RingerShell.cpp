#include "app/RingerShell.h"

#include "method/Calling.h"

#include "app/MethodStore.h"
#include "method/MethodLibrary.h"
#include "protocol/MessageTexts.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#ifndef TOLVANE_DATA_DIR
#define TOLVANE_DATA_DIR ""
#endif

namespace {

// Linux would wait about two minutes for a silent host; the window is blocked
// while it waits, so it waits no longer than this (and as long for the name).
constexpr int kConnectTimeoutMs = 20000;
// An attempt to reconnect does not block, but comes again soon: it is given
// up after this.
constexpr int kReconnectTimeoutMs = 5000;
// How often an attempt to reconnect looks whether the name has been found and
// whether its time is up.
constexpr int kAttemptPollMs = 10;
constexpr std::size_t kReadSize = 1024;
// Reads per readiness event: the rest waits for the next pass of the loop, so
// that a flood cannot keep the strike timer waiting.
constexpr int kReadsPerEvent = 64;

std::optional<in_addr> lookUpHost(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    if (address.s_addr == INADDR_ANY)
        return std::nullopt;
    return address;
}

// The lookup runs on a thread of its own, left to finish alone if nobody
// waits for it any more: a resolver that never answers must not hold the
// window.
std::future<std::optional<in_addr>> lookUpHostAside(const std::string& host)
{
    auto result = std::make_shared<std::promise<std::optional<in_addr>>>();
    auto answer = result->get_future();
    std::thread([host, result] { result->set_value(lookUpHost(host)); }).detach();
    return answer;
}

// The same lookup given up after the bound of the connect.
std::optional<in_addr> lookUpHostWithin(const std::string& host, int timeoutMs)
{
    auto answer = lookUpHostAside(host);
    if (answer.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

sockaddr_in serverAddress(in_addr address, int port)
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    server.sin_addr = address;
    return server;
}

bool makeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Begins a connect that does not wait: 0 when it is made at once,
// EINPROGRESS while it goes on, or the error code.
int beginConnect(int fd, const sockaddr_in& address)
{
    if (!makeNonBlocking(fd))
        return errno;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return 0;
    return errno;
}

// How a connect that went on ended, once the socket can be written: 0 or the
// error code.
int connectOutcome(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
        return errno;
    return error;
}

// Connects as a blocking connect would, but gives up after the timeout.
// Returns 0 or the error code.
int connectWithin(int fd, const sockaddr_in& address, int timeoutMs)
{
    if (const int started = beginConnect(fd, address); started != EINPROGRESS)
        return started;
    pollfd waiting{fd, POLLOUT, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int ready;
    do {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ready = poll(&waiting, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0)
        return ETIMEDOUT;
    if (ready < 0)
        return errno;
    return connectOutcome(fd);
}

// Why a connect failed: the message every user of the protocol knows, and
// on a line of its own where and why, since the first line alone cannot tell
// a server that is down from a name mistyped.
std::string connectFailureText(int error, const std::string& host, int port)
{
    const std::string where = host + ", port " + std::to_string(port) + ": ";
    switch (error) {
    case ECONNREFUSED:
        return std::string(text::kConnectRefused) + "\n" + where + "refused";
    case ETIMEDOUT:
    case ECONNABORTED:
        return std::string(text::kConnectTimedOut) + "\n" + where + "timed out";
    default:
        // This message ends in a line break of its own.
        return formatText(text::kConnectFailed, error) + where + std::strerror(error);
    }
}

} // namespace

std::vector<std::filesystem::path> methodLibraryCandidates()
{
    std::vector<std::filesystem::path> candidates{kMethodLibraryFileName};
    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
    candidates.push_back(programDir / kMethodLibraryFileName);
    if (std::string(TOLVANE_DATA_DIR).size() > 0)
        candidates.push_back(std::filesystem::path(TOLVANE_DATA_DIR) / kMethodLibraryFileName);
    return candidates;
}

RingerShell::RingerShell(Options options)
    : opts(std::move(options)), ringer(*this, opts.ringerName), strikeTimer([this] { ringer.strikeTimerFired(); })
{
    connectTimer.setSingleShot(true);
    QObject::connect(&connectTimer, &QTimer::timeout, [this] { openConnection(); });
    QObject::connect(&attemptTimer, &QTimer::timeout, [this] { pollReconnectAttempt(); });
}

RingerShell::~RingerShell()
{
    attemptNotifier.reset();
    readNotifier.reset();
    writeNotifier.reset();
    signalNotifier.reset();
    if (socketFd >= 0)
        ::close(socketFd);
    if (signalFd >= 0)
        ::close(signalFd);
}

std::string RingerShell::prepare()
{
    setRhythmSettings(rhythmSettingsOf(opts));
    // Without a window there are no keys: a saved bell of the person's is not rung.
    if (!opts.headless)
        setPersonBells(opts.personBells.value_or(PersonBells{}));
    setSoundSettings(soundSettingsOf(opts));
    ringer.setLibrary(loadLibraryWithImports(methodLibraryCandidates()).library);
    if (opts.speed)
        ringer.setSpeedAdjustment(*opts.speed);
    ringer.setReconnect(opts.reconnect);
    bool known = true;
    MethodSettings settings = startupSettings(known);
    if (!known)
        return methodNotFoundText(ringer.methodLibrary(), *opts.method);
    if (opts.calling) {
        const TouchPlan plan = planTouch(settings);
        if (!plan.error.empty())
            return "Calling: " + plan.error;
        settings.composition = plan.composition;
        showMessageLater(describePlan(settings, plan));
    }
    if (opts.method || opts.notation || opts.bob || opts.single || opts.startChange || opts.composition || opts.mode ||
        opts.calling)
        ringer.applySettings(settings);
    return {};
}

void RingerShell::setRhythmSettings(const RhythmSettings& settings)
{
    rhythm = settings;
    ringer.setRhythm(settings);
}

void RingerShell::setPersonBells(const PersonBells& bells)
{
    handBells = bells;
    ringer.setPersonBells(bells);
}

void RingerShell::setSoundSettings(const SoundSettings& settings)
{
    soundChoice = settings;
    if (settings.on && !playsSound()) {
        std::fprintf(stderr, "tolvane: no sound in a headless run; the bells are not heard\n");
        soundChoice.on = false;
    }
    bellSound.setVolume(soundChoice.volume);
    bellSound.setTenorNote(soundChoice.tenorNote);
    bellSound.setEnabled(soundChoice.on);
}

// Every strike heard is played as the sound of its bell: the one place where
// heard strikes reach the sound (the person's own bell sounds from struckByHand).
void RingerShell::heardStrike(int bell, bool /*handstroke*/)
{
    if (!bellSound.enabled())
        return;
    // The person's own bell sounded as the key went down: its echo is not played again.
    const auto& table = ringer.ringing().bellTable;
    if (bell >= 1 && bell <= static_cast<int>(table.size()) && table[static_cast<std::size_t>(bell - 1)].byHand)
        return;
    bellSound.setStage(ringer.ringing().bellCount);
    bellSound.strike(bell);
}

void RingerShell::struckByHand(int bell)
{
    if (!bellSound.enabled())
        return;
    bellSound.setStage(ringer.ringing().bellCount);
    bellSound.strike(bell);
}

int runShell(RingerShell& shell, const std::function<void()>& loop)
{
    if (const std::string problem = shell.prepare(); !problem.empty()) {
        std::fprintf(stderr, "tolvane: %s\n", problem.c_str());
        return 2;
    }
    shell.watchTerminationSignals();
    shell.start();
    loop();
    return shell.exitCode();
}

namespace {

sigset_t terminationSignals()
{
    sigset_t terminating;
    sigemptyset(&terminating);
    sigaddset(&terminating, SIGINT);
    sigaddset(&terminating, SIGTERM);
    return terminating;
}

} // namespace

void blockTerminationSignals()
{
    const sigset_t terminating = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &terminating, nullptr);
}

void RingerShell::watchTerminationSignals()
{
    const sigset_t terminating = terminationSignals();
    signalFd = signalfd(-1, &terminating, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0)
        return;
    signalNotifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [this] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        userEndsRun();
    });
}

MethodSettings RingerShell::startupSettings(bool& known) const
{
    MethodSettings settings;
    if (opts.method) {
        const MethodDef* record = methodOfTitle(ringer.methodLibrary(), *opts.method);
        known = record != nullptr;
        if (record) {
            settings.placeNotation = record->placeNotation;
            settings.bobNotation = record->bobNotation;
            settings.singleNotation = record->singleNotation;
        }
    }
    settings.placeNotation = opts.notation.value_or(settings.placeNotation);
    settings.bobNotation = opts.bob.value_or(settings.bobNotation);
    settings.singleNotation = opts.single.value_or(settings.singleNotation);
    settings.goAndStopMode = opts.mode.value_or(0);
    settings.startChange = opts.startChange.value_or("");
    settings.composition = opts.composition.value_or("");
    settings.calling = opts.calling.value_or("");
    settings.observationBell = opts.observation.value_or(0);
    return settings;
}

void RingerShell::start()
{
    connectTimer.start(1);
}

int RingerShell::exitCode() const
{
    if (connectFailed)
        return 1;
    if (endedByUser)
        return 0;
    // A rejoin that ends without its tower failed as a start without one does.
    return ringer.joinedOnce() && !ringer.reconnecting() ? 0 : 1;
}

void RingerShell::userEndsRun()
{
    if (!ringer.running())
        return;
    endedByUser = true;
    ringer.endRun();
}

// ---------------------------------------------------------------------------
// The connection

void RingerShell::openConnection()
{
    connectTimer.stop();
    // Whatever socket is left, a connection or an attempt, is done with.
    closeSocket();
    ++socketsOpened;
    socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        showMessage(formatText(text::kCantOpenSocket, errno));
        endUnconnected();
        return;
    }
    if (ringer.reconnecting()) {
        startReconnectAttempt();
        return;
    }
    const std::string failure = connectToServer();
    if (!failure.empty()) {
        closeSocket();
        connectFailedWith(failure);
        return;
    }
    useConnection();
}

void RingerShell::connectFailedWith(const std::string& failure)
{
    showMessage(failure);
    endUnconnected();
}

void RingerShell::endUnconnected()
{
    connectFailed = true;
    ringer.endRun();
}

void RingerShell::connectTo(const std::string& host, int port)
{
    opts.serverHost = host;
    opts.serverPort = port;
    connectTimer.start(1);
}

// The socket is connected: from now on it is read and written as it is ready.
void RingerShell::useConnection()
{
    int on = 1;
    setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    watchSocket();
    ringer.connected();
}

std::string RingerShell::connectToServer()
{
    const auto address = lookUpHostWithin(opts.serverHost, kConnectTimeoutMs);
    if (!address)
        return std::string(text::kHostNotFound) + "\n" + opts.serverHost + ", port " +
               std::to_string(opts.serverPort) + ": not found";
    if (const int error = connectWithin(socketFd, serverAddress(*address, opts.serverPort), kConnectTimeoutMs); error != 0)
        return connectFailureText(error, opts.serverHost, opts.serverPort);
    if (!makeNonBlocking(socketFd))
        return formatText(text::kAsyncSetupFailed, errno);
    return {};
}

void RingerShell::startReconnectAttempt()
{
    attemptAddress = lookUpHostAside(opts.serverHost);
    attemptDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReconnectTimeoutMs);
    attemptTimer.start(kAttemptPollMs);
}

// Once the name is found the connect is begun; the socket saying it can be
// written ends it, as does the deadline.
void RingerShell::pollReconnectAttempt()
{
    if (std::chrono::steady_clock::now() >= attemptDeadline) {
        endReconnectAttempt(ETIMEDOUT);
        return;
    }
    if (!attemptAddress.valid() || attemptAddress.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    const auto address = attemptAddress.get();
    if (!address) {
        endReconnectAttempt(EHOSTUNREACH);
        return;
    }
    if (const int started = beginConnect(socketFd, serverAddress(*address, opts.serverPort)); started != EINPROGRESS) {
        endReconnectAttempt(started);
        return;
    }
    attemptNotifier = std::make_unique<QSocketNotifier>(socketFd, QSocketNotifier::Write);
    QObject::connect(attemptNotifier.get(), &QSocketNotifier::activated,
                     [this] { endReconnectAttempt(connectOutcome(socketFd)); });
}

void RingerShell::endReconnectAttempt(int error)
{
    abandonReconnectAttempt();
    if (error != 0) {
        closeSocket();
        ringer.reconnectFailed();
        return;
    }
    useConnection();
}

bool RingerShell::attemptPending() const
{
    return attemptTimer.isActive() || attemptNotifier != nullptr;
}

// Stops watching an attempt; the socket is left to whoever called.
void RingerShell::abandonReconnectAttempt()
{
    attemptTimer.stop();
    attemptAddress = {};
    // The notifier may be the very sender whose handler is running.
    if (attemptNotifier) {
        attemptNotifier->setEnabled(false);
        attemptNotifier.release()->deleteLater();
    }
}

void RingerShell::watchSocket()
{
    readNotifier = std::make_unique<QSocketNotifier>(socketFd, QSocketNotifier::Read);
    QObject::connect(readNotifier.get(), &QSocketNotifier::activated, [this] { readFromSocket(); });
    writeNotifier = std::make_unique<QSocketNotifier>(socketFd, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    QObject::connect(writeNotifier.get(), &QSocketNotifier::activated, [this] { ringer.writable(); });
}

void RingerShell::readFromSocket()
{
    char buffer[kReadSize];
    // What the bytes set off may run a nested loop (the tower choice) in
    // which the connection is lost and an attempt to reconnect begun: its
    // socket (which may even have the same number) is not to be read here.
    const int reading = socketsOpened;
    for (int reads = 0; reads < kReadsPerEvent && socketsOpened == reading && socketFd >= 0 && ringer.running();
         ++reads) {
        const ssize_t received = ::recv(socketFd, buffer, sizeof buffer, 0);
        if (received > 0) {
            ringer.bytesReceived(std::string_view(buffer, static_cast<std::size_t>(received)));
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of stream or a reset: the close event, after the bytes already read.
        if (readNotifier)
            readNotifier->setEnabled(false);
        ringer.connectionLost();
        return;
    }
}

long RingerShell::sendBytes(std::string_view bytes, int& error)
{
    if (socketFd < 0) {
        error = EBADF;
        return -1;
    }
    const ssize_t sent = ::send(socketFd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0)
        error = errno;
    return static_cast<long>(sent);
}

void RingerShell::watchWritable(bool on)
{
    if (writeNotifier)
        writeNotifier->setEnabled(on);
}

void RingerShell::closeSocket()
{
    abandonReconnectAttempt();
    // The notifiers may be the very senders whose handler is running: they
    // go once control is back in the loop.
    if (readNotifier) {
        readNotifier->setEnabled(false);
        readNotifier.release()->deleteLater();
    }
    if (writeNotifier) {
        writeNotifier->setEnabled(false);
        writeNotifier.release()->deleteLater();
    }
    if (socketFd >= 0)
        ::close(socketFd);
    socketFd = -1;
}

// ---------------------------------------------------------------------------
// Timer, clock and tower choice

void RingerShell::armStrikeTimer(int milliseconds)
{
    strikeTimer.start(milliseconds);
}

void RingerShell::killStrikeTimer()
{
    strikeTimer.stop();
    // Also asked when the run ends: then no timer may fire again. Until then
    // an attempt to reconnect stays due whatever the engine stops.
    if (!ringer.running()) {
        connectTimer.stop();
        // An attempt still under way has a socket the connection never took.
        if (attemptPending())
            closeSocket();
    }
}

Micros RingerShell::monotonicMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void RingerShell::showMessageLater(const std::string& text)
{
    QTimer::singleShot(0, &laterMessages, [this, text] { showMessage(text); });
}

std::string reconnectingText(int attempt, const std::string& refusal)
{
    const std::string text = "Connection lost: reconnecting... (attempt " + std::to_string(attempt) + ")";
    return refusal.empty() ? text : text + " - rejoining was refused: " + refusal;
}

void RingerShell::reconnectAfter(int milliseconds, int attempt, const std::string& refusal)
{
    // The tower is chosen again on the new connection, as at the start.
    towerRequested = false;
    showReconnecting(reconnectingText(attempt, refusal));
    connectTimer.start(milliseconds);
}

TowerChoice RingerShell::chooseTower(const TowerList& towers, bool listComplete)
{
    // Back after a lost connection: the same tower, without asking, while it is there.
    const std::string& rejoin = ringer.towerToRejoin();
    if (!rejoin.empty() && listComplete && !towerRequested && towers.count(rejoin)) {
        towerRequested = true;
        return TowerChoice::join(rejoin);
    }
    // Only the first choice is ours to make for the user.
    if (opts.tower && listComplete && !towerRequested && towers.count(*opts.tower)) {
        towerRequested = true;
        return TowerChoice::join(*opts.tower);
    }
    TowerChoice choice = askForTower(towers, listComplete);
    if (choice.action == TowerChoice::Action::Join)
        towerRequested = true;
    return choice;
}

#pragma once

// Drives a controller as a server stream would, from fuzz input:
//
//   byte 0      stage (mod 13) and go-and-stop mode
//   bytes 1-2   which bells are ours (a 12-bit mask)
//   byte 3      number of schedule entries (1..16), then that many entries
//   the rest    the byte stream, cut into chunks as the schedule says
//
// A schedule entry's low 5 bits give the chunk size and its high 3 bits an
// event that follows the chunk: the strike timer running out (with or without
// the server's echo), the clock moving, the buttons, partial sends, send
// errors, and a modal box or tower choice whose nested loop takes the next
// chunk before it returns. Echoes go in between two of the stream's messages.

#include "EngineInvariants.h"
#include "../unit/FakeHost.h"

#include "method/Method.h"
#include "protocol/MessageLayout.h"
#include "protocol/Messages.h"
#include "ringer/RingerController.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzcheck {

inline MethodSettings plainBobMajor(int mode)
{
    MethodSettings settings;
    settings.placeNotation = "x18x18x18x18,12";
    settings.bobNotation = "14";
    settings.singleNotation = "1234";
    settings.goAndStopMode = mode;
    settings.composition = "sbpbbpsp";
    return settings;
}

// The tower dialog picks the first tower, and waits while there is none.
class FuzzHost : public FakeHost {
public:
    TowerChoice chooseTower(const TowerList& towers, bool listComplete) override
    {
        if (onChoice)
            onChoice();
        if (towers.empty())
            return listComplete ? TowerChoice::cancel() : TowerChoice::wait();
        return TowerChoice::join(towers.begin()->first);
    }
    std::function<void()> onChoice;
};

class ReceiveDriver {
public:
    static constexpr int kMillisecondsPerDay = 86'400'000;

    // The first broken rule, or an empty text when every check held.
    std::string run(const std::uint8_t* data, std::size_t size)
    {
        if (size < 4)
            return {};
        const int stage = data[0] % 13;
        const int mode = (data[0] / 13) % 2;
        const unsigned robotMask = (data[1] | data[2] << 8) & 0xFFFu;
        const std::size_t entries = 1 + data[3] % 16;
        if (size < 4 + entries)
            return {};
        schedule.assign(data + 4, data + 4 + entries);
        stream = std::string_view(reinterpret_cast<const char*>(data + 4 + entries), size - 4 - entries);

        host.onChoice = [this] { nestedDelivery(); };
        host.onMessage = [this](const std::string&) { nestedDelivery(); };

        controller.connected();
        controller.applySettings(plainBobMajor(mode));
        assignBells(stage, robotMask);
        return ringStream();
    }

private:
    void assignBells(int stage, unsigned robotMask)
    {
        std::string ours;
        std::string band;
        for (int bell = 1; bell <= stage; ++bell)
            ((robotMask >> (bell - 1)) & 1u ? ours : band) += kBellSymbols[static_cast<std::size_t>(bell - 1)];
        if (!band.empty())
            controller.bytesReceived(makeBellAssignment(stage, "Band", band).bytes());
        if (!ours.empty())
            controller.bytesReceived(makeBellAssignment(stage, "Tolvane", ours).bytes());
    }

    std::string ringStream()
    {
        for (std::size_t step = 0; !stream.empty() && controller.running(); ++step) {
            const std::uint8_t entry = schedule[step % schedule.size()];
            deliverChunk(entry & 31u);
            if (!broken.empty())
                return broken;
            check("after a chunk");
            if (!broken.empty())
                return broken;
            act(entry >> 5, entry & 31u);
            check("after an event");
            if (!broken.empty())
                return broken;
        }
        return broken;
    }

    static std::size_t chunkSize(unsigned code)
    {
        if (code == 0)
            return kReadSize;
        return code <= 24 ? code : (code - 24) * 24;  // up to 168, the longest message
    }

    void deliverChunk(unsigned code)
    {
        deliverEchoes();
        std::size_t n = std::min(chunkSize(code), stream.size());
        // An echo waiting goes in at the end of the stream's current message.
        if (!echoes.empty())
            n = std::min(n, frameLeft == 0 ? frameLengthAt(0) : frameLeft);
        consume(n);
        const std::string_view chunk = stream.substr(0, n);
        stream.remove_prefix(n);
        controller.bytesReceived(chunk);
        host.takeSent();
        deliverEchoes();
    }

    // Where the stream's messages end, as the server that sends them knows.
    std::size_t frameLengthAt(std::size_t pos) const
    {
        if (stream.size() - pos < 2)
            return stream.size() - pos;
        const auto length = static_cast<std::size_t>(static_cast<unsigned char>(stream[pos])
                                                     | static_cast<unsigned char>(stream[pos + 1]) << 8);
        return std::max<std::size_t>(length, 1);
    }

    void consume(std::size_t n)
    {
        for (std::size_t pos = 0; pos < n;) {
            if (frameLeft == 0)
                frameLeft = frameLengthAt(pos);
            const std::size_t step = std::min(frameLeft, n - pos);
            frameLeft -= step;
            pos += step;
        }
    }

    // The server sends whole messages: an echo goes between two of the stream's.
    void deliverEchoes()
    {
        if (echoes.empty() || frameLeft != 0)
            return;
        const std::string bytes = std::move(echoes);
        echoes.clear();
        controller.bytesReceived(bytes);
        host.takeSent();
    }

    // A modal box or the tower dialog runs a nested loop: the socket's next
    // read is handled before it returns.
    void nestedDelivery()
    {
        if (!nested || depth > 0 || stream.empty())
            return;
        ++depth;
        const std::string before = checkController(controller);
        deliverChunk(8);
        // The handler that opened the box had finished its changes first, so
        // what the nested loop leaves behind must hold up as well.
        if (broken.empty() && before.empty()) {
            const std::string after = checkController(controller);
            if (!after.empty())
                broken = "inside a nested loop: " + after;
        }
        --depth;
    }

    void act(unsigned event, unsigned detail)
    {
        switch (event) {
        case 1: fireStrikeTimer(false); break;
        case 2: host.now = (host.now + static_cast<int>(detail) * 97) % kMillisecondsPerDay; break;
        case 3:
            // A run of strikes, each echoed before the next is due.
            for (unsigned i = 0; i <= detail % 8 && broken.empty(); ++i)
                fireStrikeTimer(true);
            break;
        case 4: pressButton(detail); break;
        case 5:
            host.sendLimit = detail == 0 ? std::string::npos : detail;
            controller.writable();
            break;
        case 6: nested = !nested; break;
        case 7:
            host.sendError = detail % 3 == 0 ? 0 : detail % 3 == 1 ? EAGAIN : EPIPE;
            controller.writable();
            break;
        default: break;
        }
        host.takeSent();
    }

    void pressButton(unsigned detail)
    {
        switch (detail % 3) {
        case 0: controller.fasterPressed(); break;
        case 1: controller.slowerPressed(); break;
        default: controller.stopPressed(); break;
        }
    }

    // Only an armed timer runs out, as in the shell. A strike may only be made
    // for one of our bells while ringing; the echo is what a server sends.
    void fireStrikeTimer(bool echo)
    {
        if (!host.timerArmed())
            return;
        const EngineState& engine = controller.ringing();
        if (engine.pendingBell != 0
            && (!engine.ringing || !engine.bellTable[static_cast<std::size_t>(engine.pendingBell - 1)].ownBell)) {
            broken = "the strike timer would strike bell " + std::to_string(engine.pendingBell)
                + " while it is not ours to ring";
            return;
        }
        host.now = host.armedAt + *host.armedFor;
        host.armedFor.reset();
        host.takeSent();
        controller.strikeTimerFired();
        if (!echo)
            return;
        for (const NetMessage& sent : host.takeSent()) {
            const unsigned type = messageType(sent);
            if (type == static_cast<unsigned>(MessageType::Strike) || type == static_cast<unsigned>(MessageType::Call))
                echoes += sent.bytes();
        }
        deliverEchoes();
    }

    void check(const char* when)
    {
        if (!broken.empty())
            return;
        const std::string found = checkController(controller);
        if (!found.empty())
            broken = std::string(when) + ": " + found;
    }

    FuzzHost host;
    RingerController controller{host, "Tolvane"};
    std::vector<std::uint8_t> schedule;
    std::string echoes;
    std::size_t frameLeft = 0;  // bytes of the stream's current message still to come
    std::string_view stream;
    std::string broken;
    bool nested = false;
    int depth = 0;
};

inline std::string runReceive(const std::uint8_t* data, std::size_t size)
{
    ReceiveDriver driver;
    return driver.run(data, size);
}

}  // namespace fuzzcheck

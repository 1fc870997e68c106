#pragma once

#include "protocol/NetMessage.h"
#include "protocol/RingerHost.h"

#include <cstddef>
#include <functional>
#include <string>

// The connection's buffers and the rules for moving bytes through them. The
// shell owns the socket and reports its events; this class decides what is
// sent when and where one message ends and the next begins.
class Connection {
public:
    // A server that stops reading cannot make the send buffer grow past this;
    // at the cap the connection is treated as lost.
    static constexpr std::size_t kSendBufferCap = 1 << 20;

    enum class FrameState { Incomplete, Complete, Broken };

    using LostHandler = std::function<void(const std::string& text)>;

    Connection(RingerHost& host, LostHandler lost) : host(host), lost(std::move(lost)) {}

    void opened() { open = true; }
    bool isOpen() const { return open; }

    // Accepts a whole message; it leaves behind whatever is already waiting.
    void sendMessage(const NetMessage& message);
    // Sends as much of the waiting bytes as the socket takes.
    void flushSendBuffer();

    void received(std::string_view bytes) { receiveBuffer.append(bytes); }
    // Whether the front of the receive buffer holds a whole message. Broken:
    // its declared length cannot hold a type word, so the stream is lost.
    FrameState frameState() const;
    // Takes the front message off the buffer. REQUIRES: frameState() == Complete.
    NetMessage takeMessage();
    // The declared length at the front of the receive buffer.
    unsigned declaredLength() const { return receiveBuffer.getWord(0); }

    // Closes the socket and forgets everything waiting in either direction.
    void close();

    const NetMessage& pendingSend() const { return sendBuffer; }
    const NetMessage& pendingReceive() const { return receiveBuffer; }

private:
    void reportSendError(int error);

    RingerHost& host;
    LostHandler lost;
    NetMessage receiveBuffer;
    NetMessage sendBuffer;
    bool open = false;
};

#pragma once

#include "protocol/NetMessage.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// The socket as the connection uses it; the shell owns it.
class SocketPort {
public:
    virtual ~SocketPort() = default;
    // Offers bytes to the socket: returns how many it took, or -1 with `error`
    // set to the platform's error code.
    virtual long sendBytes(std::string_view bytes, int& error) = 0;
    // Watch for room to write exactly while there are bytes waiting.
    virtual void watchWritable(bool on) = 0;
    virtual void closeSocket() = 0;
};

// The connection's buffers and the rules for moving bytes through them. The
// shell owns the socket and reports its events; this class decides what is
// sent when and where one message ends and the next begins.
class Connection {
public:
    // A server that stops reading cannot make the send buffer grow past this;
    // at the cap the connection is treated as lost.
    static constexpr std::size_t kSendBufferCap = 1 << 20;

    enum class FrameState { Incomplete, Complete, Broken };

    // Each gets the text to show: `lost` when the connection cannot go on,
    // `sendFailed` for a failed send, to be shown once the event being
    // handled is done.
    using TextHandler = std::function<void(const std::string& text)>;

    Connection(SocketPort& socket, TextHandler lost, TextHandler sendFailed)
        : socket(socket), lost(std::move(lost)), sendFailed(std::move(sendFailed))
    {
    }

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

    SocketPort& socket;
    TextHandler lost;
    TextHandler sendFailed;
    NetMessage receiveBuffer;
    NetMessage sendBuffer;
    bool open = false;
};

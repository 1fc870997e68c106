#include "protocol/Connection.h"

#include "protocol/MessageLayout.h"
#include "protocol/MessageTexts.h"

#include <cerrno>
#include <string>

void Connection::sendMessage(const NetMessage& message)
{
    if (!open)
        return;
    if (!sendBuffer.empty()) {
        if (sendBuffer.size() + message.size() > kSendBufferCap) {
            lost(text::kSendBufferFull);
            return;
        }
        sendBuffer.append(message);
        return;
    }
    sendBuffer = message;
    flushSendBuffer();
}

void Connection::flushSendBuffer()
{
    if (!open || sendBuffer.empty())
        return;
    int error = 0;
    const long taken = socket.sendBytes(sendBuffer.bytes(), error);
    if (taken < 0) {
        reportSendError(error);
        return;
    }
    sendBuffer = sendBuffer.substr(static_cast<std::size_t>(taken));
    socket.watchWritable(!sendBuffer.empty());
}

void Connection::reportSendError(int error)
{
    if (error == EAGAIN || error == EWOULDBLOCK) {
        socket.watchWritable(true);
        return;
    }
    // Any other failure will not clear by waiting for room to write: a failed
    // socket that polls writable would spin the loop.
    socket.watchWritable(false);
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTSOCK:
    case EBADF:
        return;  // the connection is going; its close event tells the user
    default:
        // A send can fail in the middle of completing a row; the box waits
        // until that is done.
        sendFailed(formatText(text::kSendFailed, error));
    }
}

Connection::FrameState Connection::frameState() const
{
    if (receiveBuffer.size() < layout::kFrameThreshold)
        return FrameState::Incomplete;
    const unsigned length = declaredLength();
    if (length < layout::kSmallestFrame)
        return FrameState::Broken;
    return receiveBuffer.size() >= length ? FrameState::Complete : FrameState::Incomplete;
}

NetMessage Connection::takeMessage()
{
    const unsigned length = declaredLength();
    NetMessage message = receiveBuffer.substr(0, length);
    receiveBuffer.eraseFront(length);
    return message;
}

void Connection::close()
{
    if (open)
        socket.closeSocket();
    open = false;
    sendBuffer.clear();
    receiveBuffer.clear();
    socket.watchWritable(false);
}

#pragma once

// The fixed texts the connection and the shell show, each exactly as the user
// sees it. The engine keeps its own in engine/EngineTexts.h.

#include "method/MessageSink.h"

namespace text {

inline constexpr const char* kConnectionLost = "Connection to Server Lost.";
inline constexpr const char* kImpossibleLength =
    "Connection to Server Lost. The server sent a message whose length (%u bytes) cannot hold its type.";
inline constexpr const char* kSendBufferFull =
    "Connection to Server Lost. The server has stopped taking the messages Tolvane sends.";
inline constexpr const char* kCantOpenSocket = "can't open socket. Errno %d\n";
inline constexpr const char* kHostNotFound = "Internet connection not found";
inline constexpr const char* kConnectRefused = "Connection to server failed";
inline constexpr const char* kConnectTimedOut = "Connection to server timed out";
inline constexpr const char* kConnectFailed = "Connect to server failed. Error Code %d\n";
inline constexpr const char* kAsyncSetupFailed =
    "Failed to Setup Async Socket notification on connection to server - error code %d";
inline constexpr const char* kSendFailed = "Failed to send data - error %d";
inline constexpr const char* kUnexpectedType = "Incoming message has unexpected message type : %d";
inline constexpr const char* kSelectTower = "Please select a tower";

} // namespace text

#pragma once

// The fixed texts the program shows, each exactly as the user sees it.

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
inline constexpr const char* kUnknownBell = "Unknown bell - ";
inline constexpr const char* kTooManyBells =
    "Bell assignment ignored: the tower has %d bells, but Tolvane rings from 0 to 12.";
inline constexpr const char* kNextBellNotFound = "Next bell not found";
inline constexpr const char* kSelectTower = "Please select a tower";

} // namespace text

// printf-style formatting of one of the texts above.
#include <cstdio>
#include <string>

template <typename... Args>
std::string formatText(const char* format, Args... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

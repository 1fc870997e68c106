#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Where the logic reports a message for the user. The window shows each text in
// a modal box; the headless front end prints it; tests record it.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const std::string& text) = 0;
};

// Collects texts to be shown later, once the state they describe is complete.
class MessageList : public MessageSink {
public:
    void showMessage(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// printf-style formatting of one of the program's fixed texts.
template <typename... Args>
std::string formatText(const char* format, Args... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

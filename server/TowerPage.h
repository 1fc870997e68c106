#pragma once

// The tower page and the JSON API under it: what a browser may read of the
// towers, and the captain's changes (bells, band, calls), each checked in
// full before the server is asked to make it. No sockets here: the HTTP
// server hands requests in and takes responses out.

#include "server/HttpServer.h"
#include "server/Tower.h"

#include <memory>
#include <string>
#include <vector>

struct DeskAnswer {
    int status = 200;
    std::string message;
};

// What the page may ask of the server that holds the towers.
class TowerDesk {
public:
    virtual ~TowerDesk() = default;
    virtual const std::vector<std::unique_ptr<Tower>>& towers() const = 0;
    // `ringer` is a ringer in the tower, or the band.
    virtual DeskAnswer assignBell(Tower& tower, int bell, const std::string& ringer) = 0;
    virtual DeskAnswer setBand(Tower& tower, const BandChoice& choice) = 0;
    virtual DeskAnswer call(Tower& tower, const std::string& text) = 0;
    // Library methods whose names hold `part` (any case) that a tower of
    // `bells` can ring (any, for 0), at most `most`.
    virtual std::vector<std::string> findMethods(const std::string& part, int bells, std::size_t most) const = 0;
    virtual bool knowsMethod(const std::string& name) const = 0;
};

// The calls a captain may make: the button's label and the text sent.
struct CaptainCall {
    const char* label;
    const char* text;
};
inline constexpr CaptainCall kCaptainCalls[] = {
    {"Look to", "Here's treble"}, {"Go", "Go"},         {"Bob", "Bob"},
    {"Single", "Single"},         {"That's all", "That's All"}, {"Stand", "Stand"},
};

// The band's speed and striking as the page may set them (and as the command line may).
inline constexpr double kMinPealMinutes = 1;
inline constexpr double kMaxPealMinutes = 100000;
inline constexpr double kMaxBandSdMs = 1000;

class TowerPage {
public:
    TowerPage(TowerDesk& desk, std::string captainKey);
    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse read(const HttpRequest& request);
    HttpResponse change(const HttpRequest& request);
    bool hasKey(const HttpRequest& request) const;

    TowerDesk& desk_;
    std::string key_;
};

// The page's own files, served as they are.
namespace page {
extern const char* const kHtml;
extern const char* const kCss;
extern const char* const kScript;
}  // namespace page

#pragma once

// Who is in one tower and which bells each ringer rings. Bells are promised to
// ringers by name; every bell nobody in the tower holds rings by the band.

#include "server/Options.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

inline constexpr const char* kBandName = "Band";

struct Assignment {
    std::string ringer;
    std::string bells;  // bell symbols, in bell order
    friend bool operator==(const Assignment&, const Assignment&) = default;
};

class TowerState {
public:
    TowerState(TowerConfig config, std::map<std::string, std::set<int>> promisedBells);

    const TowerConfig& config() const { return config_; }

    // Adds the client under `ringer`; the refusal text when it cannot join.
    std::optional<std::string> join(int clientId, const std::string& ringer);
    // False when the client was not in this tower.
    bool leave(int clientId);

    bool contains(int clientId) const;
    std::string ringerOf(int clientId) const;
    std::vector<int> clients() const;  // in join order
    bool empty() const { return ringers_.empty(); }

    // One assignment per ringer in join order, then the band's.
    std::vector<Assignment> assignments() const;
    // Bell number -> ringer name, for every bell a client rings.
    std::map<int, std::string> clientBells() const;

    // The tower's bells promised to each ringer by name, whether in the tower or not.
    std::map<std::string, std::set<int>> promisedBells() const;
    void setPromisedBells(std::map<std::string, std::set<int>> promised);
    // Promises `bell` to `ringer` alone, or to nobody (the band) for kBandName.
    void promise(int bell, const std::string& ringer);

private:
    struct Ringer {
        int clientId;
        std::string name;
    };

    TowerConfig config_;
    std::map<std::string, std::set<int>> promisedBells_;
    std::vector<Ringer> ringers_;
};

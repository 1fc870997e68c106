// How closely the band rhythm predicts a band it only hears, with no sockets
// and no clock: a simulated band rings plain hunt at a known ideal time for
// every blow (a pace that may drift, a steady bias per bell, a normal error),
// Tolvane hears the band's blows a network delay late and sends each of its
// own a round trip before the rhythm says it is due. Prints Tolvane's RMS,
// mean and SD against the true ideal, the band's RMS, their ratio and the lag
// (the largest absolute mean error over any six consecutive rows), each
// averaged over eight seeds. Beside them, the floor: the RMS and lag of a
// tracker told the band's true pace at every row, which has only to find
// where the beat lies from the blows it has heard. No tracker that must
// learn the pace too can do better.
//
// Usage: rhythm_tracking [INERTIA]...   (default 0.5)

#include "engine/RhythmModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Drift { None, Eased, Sine, Ramp };

struct Case {
    int bells = 6;
    bool backBells = false;
    Drift drift = Drift::None;
    double latencyMs = 0;
    double jitterMs = 10;
};

constexpr double kIntervalMs = 200;
constexpr double kErrorSdMs = 20;
constexpr double kBiasMs = 5;
constexpr int kRows = 120;

const char* driftName(Drift drift)
{
    switch (drift) {
    case Drift::None: return "none";
    case Drift::Eased: return "eased";
    case Drift::Sine: return "sine 60 s";
    case Drift::Ramp: return "ramp";
    }
    return "";
}

// The pace of each row, as the bench's server rings it.
std::vector<double> paces(Drift drift, int bells, std::mt19937& random)
{
    std::vector<double> pace(kRows, kIntervalMs);
    const double rowMs = (bells + 0.5) * kIntervalMs;
    std::vector<double> knots{0.0};
    for (int row = 0; row < kRows; ++row) {
        double swing = 0;
        if (drift == Drift::Sine) {
            swing = 0.08 * std::sin(2 * std::numbers::pi * row * rowMs / 60'000);
        } else if (drift == Drift::Ramp) {
            swing = -0.1 * std::min(row, 30) / 30.0;
        } else if (drift == Drift::Eased) {
            const int knot = row / 24;
            while (static_cast<int>(knots.size()) <= knot + 1)
                knots.push_back(std::uniform_real_distribution<double>(-1, 1)(random));
            const double t = (row % 24) / 24.0, eased = t * t * (3 - 2 * t);
            swing = 0.08 * (knots[knot] + (knots[knot + 1] - knots[knot]) * eased);
        }
        pace[row] = kIntervalMs * (1 + swing);
    }
    return pace;
}

struct Blow {
    int row, place;
    bool own;
    double idealMs;
};

std::vector<Blow> plainHunt(const Case& c, const std::vector<double>& pace)
{
    std::vector<int> order(c.bells);
    for (int i = 0; i < c.bells; ++i)
        order[i] = i + 1;
    const int own1 = c.backBells ? c.bells - 1 : c.bells / 2;
    const int own2 = own1 + 1;
    std::vector<Blow> blows;
    double rowStart = 1000;
    for (int row = 0; row < kRows; ++row) {
        if (row > 0) {
            rowStart += c.bells * pace[row - 1] + (row % 2 == 0 ? pace[row] : 0);
            for (int i = row % 2 == 1 ? 0 : 1; i + 1 < c.bells; i += 2)
                std::swap(order[i], order[i + 1]);
        }
        for (int place = 1; place <= c.bells; ++place) {
            const int bell = order[place - 1];
            blows.push_back({row, place, bell == own1 || bell == own2, rowStart + (place - 1) * pace[row]});
        }
    }
    return blows;
}

struct Figures {
    double rms = 0, mean = 0, sd = 0, bandRms = 0, lag = 0, floorRms = 0, floorLag = 0;
};

// RMS, mean, SD and lag of errors of blows in the given rows.
Figures judge(const std::vector<double>& errors, const std::vector<int>& rows)
{
    Figures f;
    for (double e : errors) {
        f.mean += e / errors.size();
        f.rms += e * e / errors.size();
    }
    f.sd = std::sqrt(std::max(0.0, f.rms - f.mean * f.mean));
    f.rms = std::sqrt(f.rms);
    for (std::size_t i = 0; i < errors.size(); ++i) {
        double sum = 0;
        int n = 0;
        for (std::size_t j = i; j < errors.size() && rows[j] < rows[i] + 6; ++j, ++n)
            sum += errors[j];
        if (rows[i] + 6 <= rows.back())
            f.lag = std::max(f.lag, std::abs(sum / n));
    }
    return f;
}

Figures measure(const Case& c, double inertia, unsigned seed)
{
    std::mt19937 random(seed);
    const std::vector<double> pace = paces(c.drift, c.bells, random);
    const std::vector<Blow> blows = plainHunt(c, pace);
    std::normal_distribution<double> error(0, kErrorSdMs);
    std::uniform_real_distribution<double> bias(-kBiasMs, kBiasMs), jitter(-c.jitterMs, c.jitterMs);
    std::vector<double> bellBias(c.bells + 1);
    for (double& b : bellBias)
        b = bias(random);
    const auto oneWay = [&] { return c.latencyMs > 0 ? c.latencyMs + jitter(random) : 0.0; };

    // The band's blows, when struck and when Tolvane hears them.
    struct Heard {
        int row, place;
        double heardMs, idealMs;
    };
    std::vector<Heard> heard;
    double bandSq = 0;
    int bandCount = 0;
    std::vector<int> bellAt;
    {
        std::vector<int> order(c.bells);
        for (int i = 0; i < c.bells; ++i)
            order[i] = i + 1;
        for (const Blow& b : blows) {
            if (b.place == 1 && b.row > 0)
                for (int i = b.row % 2 == 1 ? 0 : 1; i + 1 < c.bells; i += 2)
                    std::swap(order[i], order[i + 1]);
            if (b.own)
                continue;
            const double e = std::clamp(error(random), -kIntervalMs / 2, kIntervalMs / 2) + bellBias[order[b.place - 1]];
            bandSq += e * e;
            ++bandCount;
            heard.push_back({b.row, b.place, b.idealMs + e + oneWay(), b.idealMs});
        }
    }
    std::sort(heard.begin(), heard.end(), [](const Heard& a, const Heard& b) { return a.heardMs < b.heardMs; });

    RhythmModel model({.handstrokeGap = 1.0, .inertia = inertia});
    model.reset(c.bells);
    const double roundTrip = 2 * c.latencyMs;
    std::size_t next = 0;
    double missSum = 0;  // of the heard blows against their ideals, for the floor
    std::vector<double> errors, floorErrors;
    std::vector<int> rows;
    for (const Blow& b : blows) {
        if (!b.own)
            continue;
        // What has been heard by the time the blow must be sent.
        const double sendBy = b.idealMs - roundTrip;
        while (next < heard.size() && heard[next].heardMs <= sendBy) {
            model.addBlow(heard[next].row, heard[next].place, std::llround(heard[next].heardMs * 1000));
            missSum += heard[next].heardMs - heard[next].idealMs;
            ++next;
        }
        const auto due = model.due(b.row, b.place);
        if (!due || b.row < 4)
            continue;
        const double way = oneWay();
        errors.push_back(static_cast<double>(*due) / 1000 - roundTrip + way - b.idealMs);
        floorErrors.push_back(missSum / static_cast<double>(next) - roundTrip + way);
        rows.push_back(b.row);
    }
    Figures f = judge(errors, rows);
    const Figures floor = judge(floorErrors, rows);
    f.floorRms = floor.rms;
    f.floorLag = floor.lag;
    f.bandRms = std::sqrt(bandSq / bandCount);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<double> inertias;
    for (int i = 1; i < argc; ++i)
        inertias.push_back(std::atof(argv[i]));
    if (inertias.empty())
        inertias.push_back(0.5);
    std::printf("%-6s %-5s %-10s %4s %7s | %6s %6s %6s %6s %6s %5s | %6s %5s\n", "bells", "pos", "drift", "lat",
                "inertia", "rms", "mean", "sd", "band", "ratio", "lag", "floor", "lag");
    for (const int bells : {6, 8, 12})
        for (const bool back : {false, true})
            for (const Drift drift : {Drift::None, Drift::Eased, Drift::Sine, Drift::Ramp})
                for (const double latency : {0.0, 40.0, 100.0})
                    for (const double inertia : inertias) {
                        Figures sum;
                        constexpr int kSeeds = 8;
                        for (unsigned seed = 1; seed <= kSeeds; ++seed) {
                            const Figures f = measure({bells, back, drift, latency}, inertia, seed);
                            sum.rms += f.rms / kSeeds;
                            sum.mean += f.mean / kSeeds;
                            sum.sd += f.sd / kSeeds;
                            sum.bandRms += f.bandRms / kSeeds;
                            sum.lag += f.lag / kSeeds;
                            sum.floorRms += f.floorRms / kSeeds;
                            sum.floorLag += f.floorLag / kSeeds;
                        }
                        std::printf("%-6d %-5s %-10s %4.0f %7.2f | %6.1f %+6.1f %6.1f %6.1f %6.2f %5.1f | %6.1f %5.1f\n",
                                    bells, back ? "back" : "in", driftName(drift), latency, inertia, sum.rms, sum.mean,
                                    sum.sd, sum.bandRms, sum.rms / sum.bandRms, sum.lag, sum.floorRms, sum.floorLag);
                    }
}

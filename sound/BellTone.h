#pragma once

// One bell's sound, synthesised: the partials of a well-tuned English bell,
// each decaying at its own rate, and the short bright noise of the clapper's
// strike. Bells are tuned to a major scale down to the tenor.

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace sound {

constexpr int kSampleRate = 48000;
constexpr int kMaxBells = 12;

struct Partial {
    const char* name;
    double ratio;      // frequency over the nominal's
    double amplitude;  // at the strike, the nominal's being 1
    double t60Seconds; // time to fall by 60 dB, for a bell whose nominal is kReferenceNominalHz
};

// A heavier bell rings longer: each decay time scales with the square root of
// kReferenceNominalHz over the bell's nominal.
constexpr double kReferenceNominalHz = 700.0;

// Hum two octaves below the nominal, prime an octave below, the minor-third
// tierce, the quint, the nominal (the note the bell is named by) and upper
// partials. The hum sounds longest, the upper partials die first.
inline constexpr std::array kEnglishBellPartials{
    Partial{"hum", 0.25, 0.35, 16.0},       Partial{"prime", 0.5, 0.30, 10.0},
    Partial{"tierce", 0.6, 0.40, 8.0},      Partial{"quint", 0.75, 0.15, 5.0},
    Partial{"nominal", 1.0, 1.00, 7.0},     Partial{"deciem", 1.25, 0.12, 4.0},
    Partial{"superquint", 1.5, 0.35, 3.5},  Partial{"octave nominal", 2.0, 0.25, 2.5},
    Partial{"upper third", 2.5, 0.12, 1.8},
};

// The note a bell is named by, "D5", "Eb4", "F#5" (octave 3 to 6, A4 440 Hz),
// as the frequency of its nominal; nothing for a text that is no such note.
std::optional<double> noteFrequency(std::string_view name);
constexpr const char* kDefaultTenorNote = "F5";

// Bell `bell` (1 the treble) of `stage` bells, the tenor's nominal being
// `tenorHz`: the bells run down a major scale to the tenor.
double bellNominalHz(int bell, int stage, double tenorHz);

// One strike of a bell whose nominal is `nominalHz`, at kSampleRate, mono,
// peak about 1. It starts from silence and fades to silence at its end, so
// that neither edge is a step.
std::vector<float> synthesiseBell(double nominalHz);

// The bells of a twelve-note major scale up from the tenor, rendered once:
// any stage's bells are taken from it, the tenor always its first.
struct BellScale {
    double tenorHz = 0;
    std::array<std::vector<float>, kMaxBells> tones;  // [0] the tenor .. [11] a twelfth above

    // The samples of bell `bell` of `stage`; nothing outside the stage.
    const std::vector<float>* bell(int bell, int stage) const;
};
BellScale renderScale(double tenorHz);

} // namespace sound

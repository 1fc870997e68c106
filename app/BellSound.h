#pragma once

#include <memory>
#include <string>

// The bells as the person hears them: each strike plays the synthesised sound
// of that bell on the desktop's audio output. Off by default; while off no
// audio device is opened. A machine without an audio device stays silent
// with one line of warning when the sound is turned on. Every call is made on
// the shell's one thread.
class BellSound {
public:
    BellSound();
    ~BellSound();
    BellSound(const BellSound&) = delete;
    BellSound& operator=(const BellSound&) = delete;

    // Plays bell `bell` (1 the treble .. 12) now. Ignored while the sound is
    // off and for a bell outside the stage.
    void strike(int bell);
    // The number of bells in the tower: the tenor is the bell of that number.
    void setStage(int bells);
    void setEnabled(bool on);
    bool enabled() const;
    // 0 silent .. 1 full.
    void setVolume(double volume);
    // The tenor's note as a name with an octave, "D5", "Eb4", "F#5"; a name
    // that is not a note is ignored.
    void setTenorNote(const std::string& note);

    // How long after a strike its first sample reaches the audio output: the
    // wait for the next feed plus the samples queued ahead of it.
    struct Latency {
        int strikes = 0;
        double meanMs = 0;
        double maxMs = 0;
    };
    Latency latency() const;

private:
    struct Output;
    std::unique_ptr<Output> output;
};

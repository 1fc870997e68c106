#include "app/BellSound.h"

// First cut: the interface only, silent. The synthesis and the audio output follow.
struct BellSound::Output {
    bool on = false;
};

BellSound::BellSound() : output(std::make_unique<Output>()) {}
BellSound::~BellSound() = default;

void BellSound::strike(int) {}
void BellSound::setStage(int) {}
void BellSound::setEnabled(bool on) { output->on = on; }
bool BellSound::enabled() const { return output->on; }
void BellSound::setVolume(double) {}
void BellSound::setTenorNote(const std::string&) {}

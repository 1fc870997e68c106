#include "app/WriteSound.h"

#include "files/AtomicFile.h"
#include "sound/Recording.h"
#include "sound/WavFile.h"

#include <algorithm>

std::string writeSoundFile(const Options& options)
{
    constexpr int kDefaultBells = 8;
    const SoundSettings settings = soundSettingsOf(options);
    const double tenorHz = sound::noteFrequency(settings.tenorNote)
                               .value_or(*sound::noteFrequency(sound::kDefaultTenorNote));
    const int bells = options.soundBells.value_or(std::max(kDefaultBells, options.soundBell.value_or(0)));
    const auto samples = options.soundBell ? sound::recordBell(*options.soundBell, bells, tenorHz)
                                           : sound::recordRounds(bells, tenorHz);
    const std::string& path = *options.writeSound;
    const std::string why = files::writeFileAtomically(path, sound::wavBytes(samples, sound::kSampleRate));
    return why.empty() ? why : "cannot write '" + path + "': " + why;
}

#include "sound/BellMixer.h"
#include "sound/BellTone.h"
#include "sound/Recording.h"
#include "sound/Spectrum.h"
#include "sound/WavFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace {

using namespace sound;

constexpr double kNominalHz = 700.0;

std::span<const float> window(const std::vector<float>& samples, double fromSeconds, double seconds)
{
    return std::span(samples).subspan(static_cast<std::size_t>(fromSeconds * kSampleRate),
                                      static_cast<std::size_t>(seconds * kSampleRate));
}

float largestStep(std::span<const float> samples)
{
    float step = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        step = std::max(step, std::abs(samples[i] - samples[i - 1]));
    return step;
}

std::shared_ptr<const BellScale> scale()
{
    static const auto rendered = std::make_shared<const BellScale>(renderScale(kNominalHz));
    return rendered;
}

BellMixer mixerAtFullVolume()
{
    BellMixer mixer;
    mixer.setScale(scale());
    mixer.setStage(8);
    mixer.setVolume(1.0);
    std::vector<float> rampUp(kSampleRate / 50);
    mixer.mix(std::span(rampUp));  // past the volume's ramp from silence
    return mixer;
}

std::vector<float> pull(BellMixer& mixer, std::size_t count)
{
    std::vector<float> out(count);
    mixer.mix(std::span(out));
    return out;
}

TEST(BellTone, SpectrumPeaksAreTheEnglishBellPartialsAndNothingElse)
{
    const std::vector<float> bell = synthesiseBell(kNominalHz);
    // Past the strike's noise; long enough to part the hum and the prime's neighbours.
    const auto peaks = spectralPeaks(window(bell, 0.02, 0.5), kSampleRate, 100, 2000, 1.0, 0.003);
    std::vector<double> aimed;
    for (const Partial& partial : kEnglishBellPartials)
        if (partial.ratio * kNominalHz <= 2000)
            aimed.push_back(partial.ratio * kNominalHz);
    ASSERT_EQ(peaks.size(), aimed.size());
    for (std::size_t i = 0; i < aimed.size(); ++i)
        EXPECT_NEAR(peaks[i].hz, aimed[i], aimed[i] * 0.002) << "partial " << i;
}

TEST(BellTone, TheHumOutlastsEveryOtherPartial)
{
    const std::vector<float> bell = synthesiseBell(kNominalHz);
    const auto late = spectralPeaks(window(bell, 3.5, 0.5), kSampleRate, 100, 2000, 1.0, 0.01);
    ASSERT_FALSE(late.empty());
    const auto loudest = std::max_element(late.begin(), late.end(),
                                          [](const Peak& a, const Peak& b) { return a.magnitude < b.magnitude; });
    EXPECT_NEAR(loudest->hz, 0.25 * kNominalHz, 1.0);
}

TEST(BellTone, NotesAndTheMajorScaleDownToTheTenor)
{
    struct Row {
        const char* name;
        double hz;  // 0: not a note
    };
    for (const Row row : {Row{"A4", 440.0}, Row{"C4", 261.626}, Row{"F#5", 739.989}, Row{"Eb4", 311.127},
                          Row{"B6", 1975.533}, Row{"C3", 130.813}, Row{"H4", 0}, Row{"C7", 0}, Row{"C2", 0},
                          Row{"C", 0}, Row{"Cx4", 0}, Row{"c4", 0}, Row{"", 0}, Row{"C#44", 0}}) {
        const auto hz = noteFrequency(row.name);
        if (row.hz == 0)
            EXPECT_FALSE(hz) << row.name;
        else
            EXPECT_NEAR(hz.value_or(0), row.hz, 0.01) << row.name;
    }
    // Tenor, then up a major scale: tone, tone, semitone, tone, tone, tone, semitone.
    const double tenor = 400.0;
    const int steps[] = {2, 2, 1, 2, 2, 2, 1};
    double expected = tenor;
    for (int bell = 8; bell >= 1; --bell) {
        EXPECT_NEAR(bellNominalHz(bell, 8, tenor), expected, 1e-9) << "bell " << bell;
        if (bell > 1)
            expected *= std::pow(2.0, steps[8 - bell] / 12.0);
    }
    EXPECT_NEAR(bellNominalHz(1, 8, tenor), 2 * tenor, 1e-9);  // the treble an octave above the tenor
    EXPECT_DOUBLE_EQ(bellNominalHz(6, 6, tenor), tenor);
}

TEST(NoClicks, EveryBellStartsAndEndsInSilence)
{
    for (int bell = 1; bell <= kMaxBells; ++bell) {
        const std::vector<float>& tone = *scale()->bell(bell, kMaxBells);
        EXPECT_LT(std::abs(tone.front()), 1e-4f) << bell;
        EXPECT_LT(std::abs(tone.back()), 1e-4f) << bell;
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_LT(std::abs(tone[i]), 0.01f) << bell << " sample " << i;  // the attack is a ramp
    }
}

TEST(NoClicks, BufferEdgesChangeNothing)
{
    BellMixer whole = mixerAtFullVolume();
    BellMixer pieces = mixerAtFullVolume();
    whole.strike(3);
    pieces.strike(3);
    const std::vector<float> expected = pull(whole, 20000);
    std::vector<float> got;
    const std::size_t sizes[] = {1, 37, 128, 0, 1000, 4410};
    for (std::size_t i = 0; got.size() < expected.size(); ++i) {
        const auto part = pull(pieces, std::min(sizes[i % 6], expected.size() - got.size()));
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected);
}

TEST(NoClicks, OverlappingStrikesAdd)
{
    BellMixer both = mixerAtFullVolume();
    BellMixer first = mixerAtFullVolume();
    BellMixer second = mixerAtFullVolume();
    both.strike(1);
    first.strike(1);
    const std::size_t offset = 777;
    const auto bothHead = pull(both, offset);
    const auto firstHead = pull(first, offset);
    pull(second, offset);
    both.strike(8);
    second.strike(8);
    const auto mixed = pull(both, 4000);
    const auto a = pull(first, 4000);
    const auto b = pull(second, 4000);
    EXPECT_EQ(bothHead, firstHead);
    // Two quiet bells stay below the limiter's knee, where mixing is plain addition.
    for (std::size_t i = 0; i < mixed.size(); ++i)
        ASSERT_NEAR(mixed[i], a[i] + b[i], 1e-6f) << i;
}

// Rings a bell past its strike's noise, goes on to a sample near the sound's
// peak, where a step would be largest, does `change` there and returns the
// largest step around it over the largest step of the bell ringing on.
float stepAcross(const std::function<void(BellMixer&)>& change, std::vector<float>& after)
{
    BellMixer mixer = mixerAtFullVolume();
    mixer.strike(5);
    pull(mixer, 3000);
    const auto ringing = pull(mixer, 2000);
    float peak = 0;
    for (const float sample : ringing)
        peak = std::max(peak, std::abs(sample));
    std::vector<float> around;
    for (int i = 0; i < 2000 && (around.empty() || std::abs(around.back()) < 0.8f * peak); ++i)
        around.push_back(pull(mixer, 1)[0]);
    change(mixer);
    after = pull(mixer, 1000);
    around.insert(around.end(), after.begin(), after.end());
    return largestStep(around) / largestStep(ringing);
}

// A strike cut short (the sound turned off, or the oldest of too many) and a
// change of volume ramp: no sample steps further than the bell itself does.
TEST(NoClicks, CutsAndVolumeChangesRamp)
{
    std::vector<float> after;
    EXPECT_LE(stepAcross([](BellMixer& m) { m.silence(); }, after), 1.0f);
    EXPECT_EQ(after.back(), 0.0f);
    EXPECT_LE(stepAcross([](BellMixer& m) { m.setVolume(0.0); }, after), 1.0f);
    EXPECT_EQ(after.back(), 0.0f);
    EXPECT_LE(stepAcross([](BellMixer& m) { m.setVolume(0.3); }, after), 1.0f);
}

TEST(Mixer, FloodsAndBadBellsAreBounded)
{
    BellMixer mixer = mixerAtFullVolume();
    for (int bell : {0, -1, 9, 13, 1000})
        EXPECT_FALSE(mixer.strike(bell)) << bell;
    for (int i = 0; i < 10000; ++i)
        mixer.strike(1);
    EXPECT_LE(mixer.voicesSounding(), 2 * BellMixer::kMaxVoices);
    const auto out = pull(mixer, 2000);
    for (const float sample : out)
        ASSERT_LE(std::abs(sample), kLimiterCeiling);
    BellMixer unscaled;
    EXPECT_FALSE(unscaled.strike(1));
}

TEST(Mixer, SoftLimiterBendsBelowFullScale)
{
    EXPECT_EQ(softLimit(0.3f), 0.3f);
    EXPECT_EQ(softLimit(-kLimiterKnee), -kLimiterKnee);
    EXPECT_NEAR(softLimit(kLimiterKnee + 1e-4f), kLimiterKnee + 1e-4f, 1e-6f);  // no corner at the knee
    float previous = 0;
    for (float x = 0; x < 50; x += 0.01f) {
        const float y = softLimit(x);
        ASSERT_GE(y, previous) << x;
        ASSERT_LE(y, kLimiterCeiling) << x;
        ASSERT_EQ(softLimit(-x), -y);
        previous = y;
    }
    EXPECT_GT(softLimit(3.0f), 0.99f);
}

TEST(Wav, HeaderAndSamples)
{
    const std::int16_t samples[] = {0, 1, -2, 32767, -32768};
    const std::string bytes = wavBytes(samples, 48000);
    ASSERT_EQ(bytes.size(), 44u + 10u);
    const auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        return v;
    };
    const auto u16 = [&](std::size_t at) { return u32(at) & 0xffffu; };
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(4), bytes.size() - 8);
    EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(16), 16u);
    EXPECT_EQ(u16(20), 1u);         // PCM
    EXPECT_EQ(u16(22), 1u);         // mono
    EXPECT_EQ(u32(24), 48000u);
    EXPECT_EQ(u32(28), 96000u);     // bytes a second
    EXPECT_EQ(u16(32), 2u);         // bytes a frame
    EXPECT_EQ(u16(34), 16u);        // bits a sample
    EXPECT_EQ(bytes.substr(36, 4), "data");
    EXPECT_EQ(u32(40), 10u);
    EXPECT_EQ(bytes.substr(44), std::string("\x00\x00\x01\x00\xfe\xff\xff\x7f\x00\x80", 10));
}

TEST(Recording, RoundsStrikeEveryBellTwice)
{
    // Each blow starts on its own interval: count the onsets as rises of the
    // short-term level of the sound's changes, where the clapper's click and
    // the upper partials stand out over the bells still humming.
    const auto rounds = recordRounds(6, kNominalHz);
    const auto block = static_cast<std::size_t>(kRoundsIntervalSeconds * kSampleRate / 5);
    std::vector<double> level;
    for (std::size_t at = 1; at + block <= rounds.size(); at += block) {
        double sum = 0;
        for (std::size_t i = at; i < at + block; ++i)
            sum += std::abs(static_cast<double>(rounds[i]) - rounds[i - 1]);
        level.push_back(sum / static_cast<double>(block));
    }
    int onsets = 0;
    for (std::size_t i = 1; i < level.size(); ++i)
        onsets += level[i] > 1.1 * level[i - 1] + 20;
    EXPECT_EQ(onsets, 12);
    EXPECT_EQ(rounds.back(), 0);
    EXPECT_EQ(recordBell(1, 6, kNominalHz).size(), static_cast<std::size_t>(0.1 * kSampleRate) + scale()->tones[0].size());
}

} // namespace

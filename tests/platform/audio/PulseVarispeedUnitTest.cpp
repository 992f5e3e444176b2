#include "audio/format/VELKAudioStreamBasicDescription.h"
#include "platform/audio/AudioUnitService.h"
#include "platform/audio/RealtimeScope.h"

#include "../../audio/realtime/RealtimeAllocationGuard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

// The varispeed on its own (the unit service wants the test server, though
// no stream is made), pulling a known stereo signal from a render callback,
// rendered slice by slice as an output unit would while the playback rate
// changes between slices.

namespace {

constexpr double kRate = 48000;
constexpr uint32_t kSlice = 512;
constexpr double kAmplitude = 0.5;
constexpr double kFrequency = 300; // well inside the band at every rate tried

// The input: input frame n is sin (left) and cos (right) of the same phase.
float inputSample(uint32_t channel, int64_t frame) {
    const double phase = 2 * M_PI * kFrequency * static_cast<double>(frame) / kRate;
    return static_cast<float>(kAmplitude * (channel == 0 ? std::sin(phase) : std::cos(phase)));
}

class Varispeed : public ::testing::Test {
protected:
    AudioUnit unit = nullptr;
    int64_t pulled = 0; // input frames handed to the unit so far
    std::vector<float> left, right;
    std::vector<float> rates; // the rate each output frame was rendered at

    void SetUp() override {
        const AudioComponentDescription varispeed{kAudioUnitType_FormatConverter,
                                                  kAudioUnitSubType_Varispeed,
                                                  kAudioUnitManufacturer_Apple, 0, 0};
        ASSERT_EQ(AudioComponentInstanceNew(&varispeed, &unit), 0);
        const AudioStreamBasicDescription format =
            VELKAudioStreamBasicDescription::clientStreamDescription(2, kRate)
                ->audioStreamBasicDescription();
        for (uint32_t scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
            ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, scope, 0, &format,
                                           sizeof(format)),
                      0);
        }
        const uint32_t maximum = 528;
        ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice,
                                       kAudioUnitScope_Global, 0, &maximum, sizeof(maximum)),
                  0);
        const AURenderCallbackStruct callback{&Varispeed::supply, this};
        ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback,
                                       kAudioUnitScope_Input, 0, &callback, sizeof(callback)),
                  0);
        ASSERT_EQ(AudioUnitInitialize(unit), 0);
        RealtimeAllocationGuard::reset();
    }

    void TearDown() override {
        EXPECT_EQ(RealtimeAllocationGuard::violations(), 0u) << "allocation while rendering";
        AudioUnitUninitialize(unit);
        AudioComponentInstanceDispose(unit);
    }

    static OSStatus supply(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                           uint32_t, uint32_t frames, AudioBufferList* data) {
        auto* self = static_cast<Varispeed*>(refCon);
        for (uint32_t c = 0; c < 2; ++c) {
            auto* out = static_cast<float*>(data->mBuffers[c].mData);
            for (uint32_t i = 0; i < frames; ++i) {
                out[i] = inputSample(c, self->pulled + i);
            }
        }
        self->pulled += frames;
        return 0;
    }

    // Renders `slices` slices at `rate`, as the output unit's thread would.
    void play(float rate, int slices) {
        ASSERT_EQ(AudioUnitSetParameter(unit, kVarispeedParam_PlaybackRate, kAudioUnitScope_Global,
                                        0, rate, 0),
                  0);
        std::vector<float> a(kSlice), b(kSlice);
        std::vector<uint8_t> storage(AudioBufferListSize(2));
        auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
        list->mNumberBuffers = 2;
        for (int s = 0; s < slices; ++s) {
            list->mBuffers[0] = {1, kSlice * 4, a.data()};
            list->mBuffers[1] = {1, kSlice * 4, b.data()};
            AudioUnitRenderActionFlags flags = 0;
            AudioTimeStamp time{};
            time.mSampleTime = static_cast<double>(left.size());
            {
                RealtimeScope realtime;
                ASSERT_EQ(AudioUnitRender(unit, &flags, &time, 0, kSlice, list), 0);
            }
            left.insert(left.end(), a.begin(), a.end());
            right.insert(right.end(), b.begin(), b.end());
            rates.insert(rates.end(), kSlice, rate);
        }
    }

    // No step between neighbouring output frames is larger than the signal
    // itself can make at the faster of their two rates (plus the filter's
    // ripple): a dropped or repeated stretch of input shows as a click.
    void expectContinuous() const {
        const double slopePerInputFrame = 2 * M_PI * kFrequency / kRate * kAmplitude;
        for (const auto* channel : {&left, &right}) {
            for (size_t i = 1; i < channel->size(); ++i) {
                const double rate = std::max(rates[i - 1], rates[i]);
                const double allowed = 1.05 * slopePerInputFrame * rate + 0.01;
                const double step = std::fabs((*channel)[i] - (*channel)[i - 1]);
                ASSERT_LE(step, allowed) << "click at output frame " << i << " (rate "
                                         << rates[i - 1] << " -> " << rates[i] << ")";
            }
        }
    }

    // From output frame `from` on, played at 1.0, the output is the input
    // itself from input frame `inputFrame` on: nothing lost, nothing repeated.
    void expectInputFrom(size_t from, int64_t inputFrame) const {
        ASSERT_LE(from + kSlice, left.size());
        for (size_t i = 0; i < kSlice; ++i) {
            const int64_t frame = inputFrame + static_cast<int64_t>(i);
            ASSERT_EQ(left[from + i], inputSample(0, frame)) << "output frame " << from + i;
            ASSERT_EQ(right[from + i], inputSample(1, frame)) << "output frame " << from + i;
        }
    }
};

TEST_F(Varispeed, NormalSpeedIsTheInputUntouched) {
    play(1.0f, 4);
    expectInputFrom(0, 0);
    expectInputFrom(3 * kSlice, 3 * kSlice);
    EXPECT_EQ(pulled, 4 * kSlice) << "no read-ahead at normal speed";
}

// Cueing (2x) and reviewing from play and back, and fast winding (8x, the
// linear converter) from play and back: the tape is where the time spent at
// each rate put it, to the frame.
TEST_F(Varispeed, PlayCuePlayKeepsEveryInputFrame) {
    play(1.0f, 10);
    play(2.0f, 10);
    play(1.0f, 4);
    expectContinuous();
    expectInputFrom(20 * kSlice, 10 * kSlice + 2 * 10 * kSlice);
}

TEST_F(Varispeed, PlayWindPlayKeepsEveryInputFrame) {
    play(1.0f, 5);
    play(8.0f, 5);
    play(1.0f, 3);
    expectContinuous();
    expectInputFrom(10 * kSlice, 5 * kSlice + 8 * 5 * kSlice);
}

TEST_F(Varispeed, SlowAndMixedRatesKeepEveryInputFrame) {
    play(1.0f, 3);
    play(0.5f, 6);
    play(2.0f, 3);
    play(8.0f, 3);
    play(2.0f, 3);
    play(1.0f, 3);
    expectContinuous();
    const int64_t position = 3 * kSlice + 3 * kSlice + 6 * kSlice + 24 * kSlice + 6 * kSlice;
    expectInputFrom(18 * kSlice, position);
}

// Rates that are not whole numbers, and the switch between the two
// converters either side of 2.5x, stay free of clicks.
TEST_F(Varispeed, ChangesAcrossTheConverterSwitchAreSmooth) {
    for (const float rate : {1.0f, 1.5f, 2.4f, 2.5f, 2.6f, 3.7f, 2.3f, 0.7f, 1.0f, 0.125f, 2.6f,
                             1.0f, 8.0f, 0.3f, 1.0f}) {
        play(rate, 3);
    }
    expectContinuous();
}

// Between a 48 kHz input and a 44.1 kHz output the unit converts the rate
// as well: each output second takes a second of input, pulled in pieces
// whose time stamps follow on from each other.
TEST(VarispeedRates, ConvertsBetweenSampleRatesWithContiguousPulls) {
    AudioUnit unit = nullptr;
    const AudioComponentDescription varispeed{kAudioUnitType_FormatConverter,
                                              kAudioUnitSubType_Varispeed,
                                              kAudioUnitManufacturer_Apple, 0, 0};
    ASSERT_EQ(AudioComponentInstanceNew(&varispeed, &unit), 0);
    const AudioStreamBasicDescription in =
        VELKAudioStreamBasicDescription::clientStreamDescription(1, 48000)
            ->audioStreamBasicDescription();
    const AudioStreamBasicDescription out =
        VELKAudioStreamBasicDescription::clientStreamDescription(1, 44100)
            ->audioStreamBasicDescription();
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                   &in, sizeof(in)),
              0);
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output,
                                   0, &out, sizeof(out)),
              0);
    struct Source {
        double next = 0;
        bool contiguous = true;
        static OSStatus supply(void* refCon, AudioUnitRenderActionFlags*,
                               const AudioTimeStamp* time, uint32_t, uint32_t frames,
                               AudioBufferList* data) {
            auto* self = static_cast<Source*>(refCon);
            self->contiguous &= time->mSampleTime == self->next;
            self->next = time->mSampleTime + frames;
            auto* samples = static_cast<float*>(data->mBuffers[0].mData);
            for (uint32_t i = 0; i < frames; ++i) {
                samples[i] = 0.25f;
            }
            return 0;
        }
    } source;
    const AURenderCallbackStruct callback{&Source::supply, &source};
    ASSERT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback,
                                   kAudioUnitScope_Input, 0, &callback, sizeof(callback)),
              0);
    ASSERT_EQ(AudioUnitInitialize(unit), 0);
    std::vector<float> samples(441);
    AudioBufferList list{1, {{1, 441 * 4, samples.data()}}};
    for (int slice = 0; slice < 100; ++slice) { // one output second
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp time{};
        time.mSampleTime = slice * 441.0;
        list.mBuffers[0].mDataByteSize = 441 * 4;
        ASSERT_EQ(AudioUnitRender(unit, &flags, &time, 0, 441, &list), 0);
    }
    EXPECT_TRUE(source.contiguous) << "the pulls' time stamps jump";
    EXPECT_NEAR(source.next, 48000, 128) << "input frames taken for one output second";
    EXPECT_NEAR(samples[440], 0.25f, 0.01f);
    AudioUnitUninitialize(unit);
    AudioComponentInstanceDispose(unit);
}

} // namespace

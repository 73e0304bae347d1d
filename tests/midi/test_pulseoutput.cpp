// The stream into a real PulseAudio server (a private one with a null sink):
// a stalled rendering thread makes the server run dry, and the stream grows
// its buffer, up to its largest. (That the dropouts then stop is measured by
// make bench on a loaded machine: a test here would count the VM's own pauses.)
#include "midi/services/pulseoutput.h"
#include "midi/services/synthservice.h"
#include "pulseserver.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

TEST(PulseOutputTest, onlyARunDryAfterTheStreamWasFilledGrowsItsBuffer)
{
    PulseOutput::Options options;
    options.bufferFrames = 96;
    options.requestFrames = 32;
    options.largestBufferFrames = 441;
    using Size = PulseOutput::Size;
    PulseOutput::Growth growth(options);
    // The first pulls after a start (or a start again after resting) find
    // the stream empty: the buffer stays.
    growth.rendered(1000);
    growth.started();
    growth.rendered(95);
    EXPECT_EQ(growth.ranDry(), std::nullopt);
    growth.rendered(1);
    EXPECT_EQ(growth.ranDry(), (Size{384, 96}));
    // The server tells of the same stall again before the larger buffer is filled.
    growth.rendered(383);
    EXPECT_EQ(growth.ranDry(), std::nullopt);
    growth.rendered(1);
    EXPECT_EQ(growth.ranDry(), (Size{441, 110}));
    growth.rendered(100000);
    EXPECT_EQ(growth.ranDry(), std::nullopt);
    EXPECT_EQ(growth.size(), (Size{441, 110}));
}

TEST(PulseOutputTest, stallsThatRunTheServerDryGrowTheBufferToItsLargest)
{
    PulseServer pulse;
    if (!pulse.start())
        GTEST_SKIP() << "no PulseAudio server could be started";
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    // Every tenth piece the rendering thread stands still for 6 ms: far more
    // than the 2 ms the stream starts with holds.
    std::atomic<int> pieces{0};
    PulseOutput::Options options;
    options.server = pulse.server();
    options.bufferFrames = 96;
    options.requestFrames = 32;
    options.idleMs = 60000;  // keeps playing the silence
    options.beforeRender = [&] {
        if (pieces.fetch_add(1) % 10 == 9)
            std::this_thread::sleep_for(std::chrono::milliseconds(6));
    };
    std::string why;
    auto out = PulseOutput::Open(synth, options, why);
    ASSERT_TRUE(out) << why;
    EXPECT_EQ(out->bufferFrames(), 96);
    out->wake();
    for (int i = 0; i < 200 && out->bufferFrames() < options.largestBufferFrames; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(out->underruns(), 0);
    // Four times as long at each run dry (96, 384), then held at the largest;
    // the request is a quarter of it.
    EXPECT_EQ(out->bufferFrames(), options.largestBufferFrames);
    EXPECT_EQ(out->requestFrames(), options.largestBufferFrames / 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(out->bufferFrames(), options.largestBufferFrames);
    out.reset();
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

TEST(PulseOutputTest, aLongRestClosesTheStreamAndTheNextNoteOpensItAgain)
{
    PulseServer pulse;
    if (!pulse.start())
        GTEST_SKIP() << "no PulseAudio server could be started";
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    const std::string soundfont = SynthService::FindSoundfont("");
    if (soundfont.empty())
        GTEST_SKIP() << "no General MIDI soundfont installed";
    ASSERT_GE(fluid_synth_sfload(synth, soundfont.c_str(), 1), 0);
    PulseOutput::Options options;
    options.server = pulse.server();
    options.idleMs = 100;
    options.closeMs = 200;
    std::string why;
    auto out = PulseOutput::Open(synth, options, why);
    ASSERT_TRUE(out) << why;
    const auto waitFor = [](auto done) {
        for (int i = 0; i < 400 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        return done();
    };
    // A rest long enough, from the start or after a note: the server is left
    // alone, with no stream of ours.
    EXPECT_TRUE(waitFor([&] { return out->closed(); }));
    for (int round = 0; round < 2; ++round) {
        const std::int64_t before = out->soundStartNs();
        fluid_synth_noteon(synth, 0, 60, 100);
        out->wake();
        EXPECT_TRUE(waitFor([&] { return out->soundStartNs() > before; })) << "round " << round;
        fluid_synth_noteoff(synth, 0, 60);
        EXPECT_TRUE(waitFor([&] { return out->closed(); })) << "round " << round;
        EXPECT_TRUE(out->resting());
        EXPECT_EQ(out->bufferedUs(), -1);
    }
    EXPECT_FALSE(out->lost());
    out.reset();
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

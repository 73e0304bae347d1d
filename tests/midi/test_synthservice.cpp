#include "audiocheck.h"

#include "midi/midiout.h"
#include "midi/services/shortmessage.h"
#include "midi/services/synthservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

std::uint32_t pack(int status, int data1, int data2 = 0)
{
    return std::uint32_t(status) | std::uint32_t(data1) << 8 | std::uint32_t(data2) << 16;
}

bool haveSoundfont()
{
    return !SynthService::FindSoundfont("").empty();
}

SynthConfig offline(std::vector<std::pair<std::string, std::string>> options = {})
{
    SynthConfig config;
    config.audio = false;
    config.options = std::move(options);
    return config;
}

std::vector<std::int16_t> render(SynthService& synth, double seconds)
{
    std::vector<std::int16_t> lr(std::size_t(framesOf(seconds)) * 2);
    EXPECT_TRUE(synth.renderS16(framesOf(seconds), lr.data()));
    return lr;
}

class SynthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveSoundfont())
            GTEST_SKIP() << "no General MIDI soundfont installed";
    }
    void TearDown() override
    {
        port.CloseMidiOut();
        MidiOut::SetErrorSink(nullptr);
        port.SetService(nullptr);
    }
    MidiOut port;
};

}  // namespace

TEST_F(SynthTest, soundfontIsTheNamedOneOrDebiansFirst)
{
    std::string firstInstalled;
    for (const auto& path : SynthService::kDebianSoundfonts) {
        if (!SynthService::FindSoundfont(path).empty()) {
            firstInstalled = path;
            break;
        }
    }
    EXPECT_EQ(SynthService::FindSoundfont(""), firstInstalled);
    SynthService debian;
    EXPECT_EQ(debian.deviceAnswers(-1), MidiResult::Ok);
    EXPECT_NE(debian.deviceAnswers(0), MidiResult::Ok);  // no numbered devices
    EXPECT_EQ(debian.deviceCount(), 0);

    // A named soundfont is the only one tried: a typo must not fall back silently.
    SynthConfig missing;
    missing.soundfont = "/nonexistent/piano.sf2";
    SynthService named(missing);
    EXPECT_NE(named.deviceAnswers(-1), MidiResult::Ok);
    std::uint32_t handle = 0;
    EXPECT_NE(named.open(-1, handle), MidiResult::Ok);
    EXPECT_EQ(handle, 0u);

    // A file that is not a soundfont does not count as one.
    const std::string text = ::testing::TempDir() + "not-a-soundfont.sf2";
    std::ofstream(text) << "RIFF but not really";
    EXPECT_EQ(SynthService::FindSoundfont(text), "");
    std::remove(text.c_str());
}

TEST_F(SynthTest, anOutputThatCannotOpenLeavesTheKeyboardSilentAndSaysWhy)
{
    // The machine's own drivers: the open never waits for them; on a machine
    // without sound all of them fail, elsewhere one opens and is a real one.
    {
        SynthService synth;
        std::uint32_t handle = 0;
        ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
        EXPECT_NE(handle, 0u);
        if (synth.waitForAudio(60000)) {  // ends with the search: long only for a sanitized build
            EXPECT_FALSE(synth.audioDriver().empty());
            EXPECT_EQ(synth.status().state, SynthStatus::State::Playing);
            EXPECT_FALSE(synth.renderS16(1, nullptr));  // the driver's thread renders, not us
        } else {
            EXPECT_EQ(synth.status().state, SynthStatus::State::Silent);
            EXPECT_TRUE(synth.status().retrying);  // a sound server may still come
        }
        EXPECT_EQ(synth.close(handle), MidiResult::Ok);
    }

    // A driver the user chose that cannot open, through the port as the
    // program uses it: the port opens, notes go nowhere, and the status says
    // why; nothing is tried behind the user's choice.
    SynthConfig config;
    config.options = {{"audio.driver", "no-such-driver"}};
    SynthService synth(config);
    std::vector<int> errors;
    std::vector<SynthStatus> told;
    synth.setStatusListener([&](const SynthStatus& s) { told.push_back(s); });
    port.SetService(&synth);
    MidiOut::SetErrorSink([&](int code) { errors.push_back(code); });
    const auto device = port.FindMidiDevice();  // the soundfont is there
    EXPECT_EQ(device, std::optional<std::int16_t>(-1));
    EXPECT_TRUE(port.OpenMidiOut(device.value_or(0)));
    EXPECT_FALSE(synth.waitForAudio(10000));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].state, SynthStatus::State::Silent);
    EXPECT_EQ(told[0].why, SynthStatus::Why::NoOutput);
    EXPECT_FALSE(told[0].retrying);
    EXPECT_NE(synth.loadedSoundfont(), "");  // kept for an output that may come
    port.NoteOn(0, 60, 127);  // silent, and no crash
    port.NoteOff(0, 60);
    port.CloseMidiOut();
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(synth.close(0), MidiResult::InvalidHandle);
}

TEST_F(SynthTest, fileDriverOpensAndClosesWithTheSynthesizer)
{
    // The one audio driver that works on any machine: the complete open and
    // close, with the driver's thread running against the synthesizer.
    const std::string wav = ::testing::TempDir() + "sonarel-file-driver.wav";
    std::remove(wav.c_str());
    SynthConfig config;
    config.options = {{"audio.driver", "file"}, {"audio.file.name", wav}};
    SynthService synth(config);
    std::uint32_t handle = 0;
    ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
    EXPECT_NE(handle, 0u);
    // The open returns before the soundfont is loaded: a program and a note
    // sent at once wait for the output, then sound in what it writes.
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0xC0, 40)), MidiResult::Ok);
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90, 64, 127)), MidiResult::Ok);
    ASSERT_TRUE(synth.waitForAudio(10000));
    EXPECT_EQ(synth.audioDriver(), "file");
    // The driver writes as the sound plays: the note is in the file once the
    // driver has got that far (a loaded machine may take its time).
    const auto loudest = [&wav] {
        std::ifstream in(wav, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.size() <= 44 || std::string(bytes.data(), 4) != "RIFF")
            return 0;
        int peak = 0;
        for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
            peak = std::max(peak, std::abs(int(std::int16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8)))));
        return peak;
    };
    // A note waits for the output only so long: on a slow start the one above
    // may have been dropped, and this one sounds.
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90, 60, 100)), MidiResult::Ok);
    for (int i = 0; i < 200 && loudest() <= 1000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(loudest(), 1000);
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0x80, 60)), MidiResult::Ok);
    EXPECT_EQ(synth.open(-1, handle), MidiResult::Error);  // one handle at a time
    EXPECT_EQ(synth.close(handle), MidiResult::Ok);
    EXPECT_FALSE(synth.isOpen());
    EXPECT_TRUE(synth.loaded());  // the synthesizer and its driver stay for the next open
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90, 60, 100)), MidiResult::InvalidHandle);
    std::remove(wav.c_str());

    // Opening again after a close hands out a new handle on the same driver.
    const std::uint32_t old = handle;
    ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
    EXPECT_NE(handle, old);
    EXPECT_EQ(synth.audioDriver(), "file");
    EXPECT_EQ(synth.close(handle), MidiResult::Ok);
    std::remove(wav.c_str());
}

TEST_F(SynthTest, closingEndsWhatSoundsAndKeepsTheSynthesizer)
{
    SynthService synth(offline());
    std::uint32_t handle = 0;
    ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
    const std::string soundfont = synth.loadedSoundfont();
    ASSERT_EQ(synth.sendShortMsg(handle, pack(0x90, 60, 127)), MidiResult::Ok);
    EXPECT_GT(peak(render(synth, 0.3), 0, framesOf(0.3)), 1000);
    ASSERT_EQ(synth.close(handle), MidiResult::Ok);
    EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90, 62, 127)), MidiResult::InvalidHandle);
    // The note ends with the handle: its release dies away.
    render(synth, 1.5);
    EXPECT_LT(peak(render(synth, 0.2), 0, framesOf(0.2)), 30);
    EXPECT_TRUE(synth.loaded());
    EXPECT_EQ(synth.loadedSoundfont(), soundfont);

    // The next open is the same synthesizer under a new handle.
    std::uint32_t again = 0;
    ASSERT_EQ(synth.open(-1, again), MidiResult::Ok);
    EXPECT_NE(again, handle);
    EXPECT_EQ(synth.sendShortMsg(again, pack(0x90, 60, 127)), MidiResult::Ok);
    EXPECT_GT(peak(render(synth, 0.3), 0, framesOf(0.3)), 1000);
    EXPECT_EQ(synth.close(again), MidiResult::Ok);
}

TEST_F(SynthTest, noteSoundsWhileHeldAndDiesAwayAfterNoteOff)
{
    SynthService synth(offline());
    std::uint32_t handle = 0;
    ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
    EXPECT_EQ(synth.audioDriver(), "");

    const auto before = render(synth, 0.2);
    EXPECT_LT(rms(before, 0, framesOf(0.2)), kSilentRms);

    ASSERT_EQ(synth.sendShortMsg(handle, pack(0x90, 60, 127)), MidiResult::Ok);
    const auto held = render(synth, 0.5);
    const double heldRms = rms(held, framesOf(0.02), framesOf(0.5));
    EXPECT_GT(heldRms, kSoundingRms);
    // One key is clearly audible (above -20 dBFS) and does not clip.
    EXPECT_GT(peak(held, 0, framesOf(0.5)), 3277);
    EXPECT_LT(peak(held, 0, framesOf(0.5)), 32767);

    ASSERT_EQ(synth.sendShortMsg(handle, pack(0x80, 60)), MidiResult::Ok);
    const auto released = render(synth, 2.5);
    EXPECT_LT(rms(released, framesOf(2.0), framesOf(2.5)), kSilentRms) << "held rms " << heldRms;

    // A note-on with velocity 0 ends a note just like a note-off.
    ASSERT_EQ(synth.sendShortMsg(handle, pack(0x91, 67, 100)), MidiResult::Ok);
    EXPECT_GT(rms(render(synth, 0.3), framesOf(0.02), framesOf(0.3)), kSoundingRms);
    ASSERT_EQ(synth.sendShortMsg(handle, pack(0x91, 67, 0)), MidiResult::Ok);
    EXPECT_LT(rms(render(synth, 2.5), framesOf(2.0), framesOf(2.5)), kSilentRms);
    EXPECT_EQ(synth.close(handle), MidiResult::Ok);
}

TEST_F(SynthTest, countdownNoteOffsOfSilentKeysAreNotErrors)
{
    // The note countdown sends a note-off for every idle key on every tick;
    // a synthesizer that called those failures would flood the error sink.
    SynthService synth(offline());
    port.SetService(&synth);
    std::vector<int> errors;
    MidiOut::SetErrorSink([&](int code) { errors.push_back(code); });
    ASSERT_TRUE(port.OpenMidiOut(-1));
    for (int key = 0; key < 65; ++key)
        port.NoteOff(0, std::int16_t(36 + key));
    port.ProgramChange(0, 0, 40);
    port.ControlChange(0, 7, 100);
    // A marimba's note dies away by itself before its countdown ends it.
    port.ProgramChange(1, 0, 12);
    port.NoteOn(1, 84, 127);
    render(synth, 3.0);
    port.NoteOff(1, 84);
    EXPECT_TRUE(errors.empty());

    // What is not a short message is refused, and nothing breaks.
    const std::uint32_t h = port.MidiOutHandle();
    EXPECT_EQ(synth.sendShortMsg(h, pack(0x3C, 60, 100)), MidiResult::Error);   // no status byte
    EXPECT_EQ(synth.sendShortMsg(h, pack(0xF0, 0x7E, 0x7F)), MidiResult::Error); // system exclusive
    EXPECT_EQ(synth.sendShortMsg(h, pack(0x90, 60, 200)), MidiResult::Error);   // data byte with its top bit
    EXPECT_EQ(synth.sendShortMsg(h, pack(0xF8, 0)), MidiResult::Ok);            // clock: ignored
    EXPECT_EQ(synth.sendShortMsg(h, pack(0xE0, 0, 0x40)), MidiResult::Ok);      // pitch bend centre
    port.CloseMidiOut();  // while the synthesizer is still there
}

TEST_F(SynthTest, programChangeAndSettingsChangeTheSound)
{
    auto noteWith = [](const std::vector<std::uint32_t>& setup, SynthConfig config) {
        SynthService synth(std::move(config));
        std::uint32_t handle = 0;
        EXPECT_EQ(synth.open(-1, handle), MidiResult::Ok);
        for (auto m : setup)
            EXPECT_EQ(synth.sendShortMsg(handle, m), MidiResult::Ok);
        EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90, 60, 100)), MidiResult::Ok);
        std::vector<float> lr(std::size_t(framesOf(0.4)) * 2);
        EXPECT_TRUE(synth.renderFloat(framesOf(0.4), lr.data()));
        return lr;
    };
    auto energy = [](const std::vector<float>& lr) {
        double e = 0;
        for (float s : lr)
            e += double(s) * s;
        return e;
    };
    auto difference = [](const std::vector<float>& a, const std::vector<float>& b) {
        double d = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            d += double(a[i] - b[i]) * (a[i] - b[i]);
        return d;
    };
    const auto piano = noteWith({pack(0xB0, 0, 0), pack(0xC0, 0)}, offline());
    const auto pianoAgain = noteWith({}, offline());  // program 0 is where channels start
    const auto violin = noteWith({pack(0xB0, 0, 0), pack(0xC0, 40)}, offline());
    EXPECT_LT(difference(piano, pianoAgain), 1e-6 * energy(piano));
    EXPECT_GT(difference(piano, violin), 0.1 * energy(piano));

    // The user's settings have the last word over our defaults; unknown ones are skipped.
    const auto quiet = noteWith({}, offline({{"synth.gain", "0.2"}, {"no.such.setting", "1"}, {"synth.polyphony", "x"}}));
    EXPECT_LT(energy(quiet), 0.5 * energy(piano));
}

TEST_F(SynthTest, notesSentBehindInstrumentChangesSoundWithTheNewInstruments)
{
    // Changes load samples on the synthesizer's own thread while the notes
    // come in behind them; the sound must be that of each change played,
    // in turn, before the notes after it.
    const auto play = [](bool waitForEachChange) {
        SynthService synth(offline());
        std::uint32_t handle = 0;
        EXPECT_EQ(synth.open(-1, handle), MidiResult::Ok);
        std::vector<float> lr(std::size_t(framesOf(0.05)) * 2), all;
        for (int round = 0; round < 12; ++round) {
            for (int channel : {0, 1}) {
                EXPECT_EQ(synth.sendShortMsg(handle, pack(0xB0 | channel, 0, 0)), MidiResult::Ok);
                EXPECT_EQ(synth.sendShortMsg(handle, pack(0xC0 | channel, (round * 11 + channel * 40) % 128)), MidiResult::Ok);
                if (waitForEachChange)
                    EXPECT_TRUE(synth.renderFloat(0, lr.data()));
                EXPECT_EQ(synth.sendShortMsg(handle, pack(0x90 | channel, 60 + round, 110)), MidiResult::Ok);
            }
            EXPECT_TRUE(synth.renderFloat(framesOf(0.05), lr.data()));
            all.insert(all.end(), lr.begin(), lr.end());
        }
        return all;
    };
    const auto queued = play(false);
    EXPECT_EQ(queued, play(true));
    EXPECT_GT(*std::max_element(queued.begin(), queued.end()), 0.05f);
}

TEST_F(SynthTest, metronomeClicksSoundFromTheirOwnFrameHoweverTheSoundIsAskedFor)
{
    // 96 beats a minute in 3/4: a beat is 27562.5 frames, so click n falls
    // on frame n * 27562.5 to the nearest, mostly inside one of the
    // synthesizer's 64-frame blocks, where a note struck would wait for the
    // next block. Each click is heard from its very frame.
    ClickPattern pattern;
    pattern.beatUs = 625000;
    pattern.beats = 3;
    const int frames = framesOf(2.6);  // clicks 0..4
    const auto clicks = [&](int piece) {
        SynthService synth(offline());
        std::uint32_t handle = 0;
        EXPECT_EQ(synth.open(-1, handle), MidiResult::Ok);
        EXPECT_TRUE(synth.startClicks(handle, pattern));
        std::vector<float> lr(std::size_t(frames) * 2);
        for (int done = 0; done < frames; done += piece)
            EXPECT_TRUE(synth.renderFloat(std::min(piece, frames - done), lr.data() + 2 * done));
        return lr;
    };
    const auto small = clicks(37);
    EXPECT_EQ(clicks(4410), small) << "the size of the pieces asked for moves no click";
    // Where each click begins: the first frame above a tenth of its loudest.
    std::vector<int> onset;
    std::vector<float> loudest;
    for (int n = 0; n < 5; ++n) {
        const int due = int(std::lround(n * 27562.5 + 0.01));
        const auto from = small.begin() + 2 * std::max(0, due - 200), to = small.begin() + 2 * (due + 2000);
        const float peak = std::abs(*std::max_element(from, to, [](float x, float y) { return std::abs(x) < std::abs(y); }));
        loudest.push_back(peak);
        onset.push_back(int(std::find_if(from, to, [peak](float v) { return std::abs(v) > peak / 10; }) - small.begin()) / 2);
    }
    // A click's own sound starts where its sample does: the same beat's two
    // clicks, and beat one's, lie apart by exactly the frames between them.
    EXPECT_EQ(onset[2] - onset[1], 55125 - 27563);
    EXPECT_EQ(onset[3] - onset[0], 82688);
    EXPECT_EQ(onset[4] - onset[1], 110250 - 27563);
    EXPECT_GT(loudest[0], loudest[1] * 1.5f) << "the first beat of a bar accented";
    EXPECT_GT(loudest[1], 0.02f);

    SynthService synth(offline());
    std::uint32_t handle = 0;
    ASSERT_EQ(synth.open(-1, handle), MidiResult::Ok);
    // A stop ends them; the handle's close does too.
    ASSERT_TRUE(synth.startClicks(handle, pattern));
    synth.stopClicks(handle);
    std::vector<float> after(std::size_t(framesOf(1.0)) * 2);
    ASSERT_TRUE(synth.renderFloat(framesOf(1.0), after.data()));
    ASSERT_TRUE(synth.renderFloat(framesOf(1.0), after.data()));
    EXPECT_LT(*std::max_element(after.begin(), after.end()), 1e-3f);
}

TEST(ShortMessage, lengthOnTheWire)
{
    EXPECT_EQ(DecodeShortMessage(0x7F3C90).length, 3);
    EXPECT_EQ(DecodeShortMessage(0x0018C2).length, 2);   // program change: status + program
    EXPECT_EQ(DecodeShortMessage(0x000040D5).length, 2); // channel pressure
    EXPECT_EQ(DecodeShortMessage(0x4000E0).length, 3);
    EXPECT_EQ(DecodeShortMessage(0xF8).length, 1);
    EXPECT_EQ(DecodeShortMessage(0xF0).length, 0);
    EXPECT_EQ(DecodeShortMessage(0x7F3C40).length, 0);   // running status
    EXPECT_EQ(DecodeShortMessage(0xC83C90).length, 0);   // velocity 200
    EXPECT_EQ(DecodeShortMessage(0x00FFC0).length, 0);   // program 255
    EXPECT_EQ(DecodeShortMessage(0xFF05C0).length, 2);   // the unused third byte does not matter
    const ShortMessage m = DecodeShortMessage(0x647F81);
    EXPECT_EQ(m.status, 0x81);
    EXPECT_EQ(m.data1, 0x7F);
    EXPECT_EQ(m.data2, 0x64);
}

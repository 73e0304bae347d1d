#pragma once
#include "midi/services/audiooutput.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;
struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

// The synthesizer played into a PulseAudio (or PipeWire) server through the
// asynchronous client API. The stream's write callback renders exactly what
// the server asks for. While no voice sounds for `idleMs` the stream is
// corked: the server stops asking. The next note-on flushes the stale silence
// and uncorks, so the note is rendered at the next request instead of behind
// a buffer of old silence. A corked stream still keeps the server's sink
// running at the stream's short latency, so after `closeMs` more of rest the
// stream is closed, and the next note-on opens a new one.
class PulseOutput : public AudioOutput {
public:
    struct Options {
        // The stream's target length, the delay a note waits behind, and how
        // much the server asks for at a time: 96 frames are 2.2 ms at 44.1 kHz,
        // asked for 32 frames (0.7 ms) at a time. The synthesizer's
        // audio.period-size and audio.periods settings replace them.
        int bufferFrames = 96;
        int requestFrames = 32;
        int sampleRate = 44100;
        int idleMs = 1000;       // silence after which the stream rests
        int closeMs = 30000;     // rest after which the stream is closed
        int connectTimeoutMs = 2000;
        // An underrun makes the buffer four times as long, up to this, and the
        // request a quarter of it: a busy machine
        // gets a little more delay rather than gaps in the sound. The server
        // keeps about 2 ms of what is asked for as its own latency and the
        // rest waits in the stream: 10 ms asked are about 8 ms of stream buffer.
        int largestBufferFrames = 441;
        std::string server;      // empty: the user's default server
        // Called on the stream's thread when the server goes away.
        std::function<void()> onLost;
        // Called on the stream's thread before each piece is rendered (tests
        // stall it there to make the server run dry).
        std::function<void()> beforeRender;
        // Renders a piece of the synthesizer's sound, on the stream's thread;
        // unset: fluid_synth_write_float.
        std::function<void(int frames, float* leftRight)> render;
        // Sound is due though none may sound now (the metronome's clicks
        // between their silences): the stream does not rest.
        std::function<bool()> keepAwake;
        // Called on the stream's thread when the server ran dry and played
        // silence in place of what was still to come.
        std::function<void()> onRanDry;
    };

    struct Size {
        int frames;   // the stream's buffer
        int request;  // what the server asks for at a time
        bool operator==(const Size&) const = default;
    };
    // How the stream's buffer follows the server running dry. A stream that
    // has just started (or started again after resting, or grown) has not
    // yet filled the buffer it has, so the server may find it empty, and
    // tells of one stall again until it is filled: only a run dry after that
    // is a sign of a busy machine.
    class Growth {
    public:
        explicit Growth(const Options& options);
        Size size() const { return size_; }
        void started() { filled_ = 0; }
        void rendered(std::int64_t frames) { filled_ += frames; }
        // The new size after the server ran dry; nothing when it stays.
        std::optional<Size> ranDry();

    private:
        Size size_;
        int smallestRequest_;
        int largest_;
        std::int64_t filled_ = 0;  // rendered since the stream last started or grew
    };

    // Connects and creates the stream (corked until the first note). nullptr
    // with `why` set when there is no server or it refuses the stream;
    // `silent` then tells a server that took the connection and never
    // answered, which every other way to it would wait on too.
    static std::unique_ptr<PulseOutput> Open(fluid_synth_t* synth, const Options& options, std::string& why,
                                             bool* silent = nullptr);
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    void wake() override;
    std::string name() const override { return "pulseaudio"; }

    // For tests and benchmarks.
    bool resting() const { return corked_.load(); }
    bool closed() const { return closed_.load(); }
    bool lost() const { return lost_.load(); }
    // steady_clock nanoseconds at which the last sound began: a buffer with
    // an audible sample handed to the server after one without.
    std::int64_t soundStartNs() const { return soundStartNs_.load(); }
    // The last buffer handed to the server held an audible sample.
    bool audible() const { return audibleNow_.load(); }
    // What the stream's server-side buffer holds now, in microseconds, as
    // the server reports it; -1 when it cannot tell.
    std::int64_t bufferedUs();
    // The stream's buffer and request as asked for now, in frames, and how
    // often the server ran dry.
    int bufferFrames() const { return bufferFrames_.load(); }
    int requestFrames() const { return requestFrames_.load(); }
    int underruns() const { return underruns_.load(); }

private:
    explicit PulseOutput(fluid_synth_t* synth, const Options& options);
    bool connect(std::string& why);
    bool waitUntil(bool (PulseOutput::*done)() const, int timeoutMs);
    bool contextSettled() const;
    bool streamSettled() const;
    bool contextReady() const;
    bool streamReady() const;
    // Waits until `settled`; true when `ready` then holds, else `why` says why not.
    bool settle(bool (PulseOutput::*settled)() const, bool (PulseOutput::*ready)() const, std::string& why);
    // Under the mainloop's lock: a new stream at the size the growth holds
    // now, corked or playing at once; false with `why` when the server refused.
    bool openStream(bool corked, std::string& why);
    void closeStream();
    void restIdle();  // the rest has lasted closeMs
    void armIdleTimer();  // the rest begins
    void stopIdleTimer();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    void write(std::size_t bytes);
    void markLost();

    fluid_synth_t* synth_;
    Options options_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool timedOut_ = false;
    bool connected_ = false;  // under the mainloop's lock: Open has succeeded

    // Shared with the UI thread (see wake() and write()).
    std::atomic<bool> corked_{true};
    std::atomic<bool> closed_{false};
    std::atomic<std::uint64_t> wakes_{0};
    std::atomic<bool> lost_{false};
    std::atomic<std::int64_t> soundStartNs_{0};
    std::atomic<bool> audibleNow_{false};
    std::atomic<int> bufferFrames_{0};
    std::atomic<int> requestFrames_{0};
    std::atomic<int> underruns_{0};

    // The mainloop thread's own, or touched under the mainloop's lock.
    std::int64_t silentFrames_ = 0;
    bool audible_ = false;
    bool realtimeAsked_ = false;
    struct pa_time_event* idleTimer_ = nullptr;
    Growth growth_;
    std::vector<float> spare_;
};

#include "midi/services/pulseoutput.h"

#include "midi/services/servicelog.h"

#include "midi/services/fluidlib.h"
#include "midi/services/pulselib.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace {

using fluidlib::Fluid;
using pulselib::Pulse;

// Below -80 dBFS a sample counts as silence: a reverb tail fades into
// values that never quite reach zero.
constexpr float kAudible = 1e-4f;
constexpr int kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);
// Low among real-time priorities, as the sound servers' own clients ask.
constexpr int kRealtimePriority = 5;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Operations are fire-and-forget here: the state callbacks tell what happened.
void drop(pa_operation* op)
{
    if (op)
        Pulse().pa_operation_unref(op);
}

// The stream's buffer and request as the server takes them. Playback starts
// as soon as one request is written, not once the whole buffer is full again
// after a flush.
void askFor(pa_buffer_attr& attr, PulseOutput::Size size)
{
    attr.tlength = std::uint32_t(size.frames) * kFrameBytes;
    attr.minreq = std::uint32_t(size.request) * kFrameBytes;
    attr.prebuf = attr.minreq;
}

class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) { Pulse().pa_threaded_mainloop_lock(loop_); }
    ~Locked() { Pulse().pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

}  // namespace

PulseOutput::PulseOutput(fluid_synth_t* synth, const Options& options)
    : synth_(synth), options_(options), growth_(options)
{
}

std::unique_ptr<PulseOutput> PulseOutput::Open(fluid_synth_t* synth, const Options& options, std::string& why,
                                               bool* silent)
{
    if (!fluidlib::Load(why))
        return nullptr;  // no synthesizer to render from
    if (!pulselib::Load(why))
        return nullptr;
    std::unique_ptr<PulseOutput> output(new PulseOutput(synth, options));
    if (!output->connect(why)) {
        if (silent)
            *silent = output->timedOut_;
        return nullptr;
    }
    return output;
}

bool PulseOutput::contextSettled() const
{
    if (timedOut_)
        return true;
    const pa_context_state_t s = Pulse().pa_context_get_state(context_);
    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
}

bool PulseOutput::streamSettled() const
{
    if (timedOut_)
        return true;
    const pa_stream_state_t s = Pulse().pa_stream_get_state(stream_);
    return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
}

// Waits with the lock held; a timer of the mainloop's own ends a wait for a
// server that accepted the connection but never answers.
bool PulseOutput::waitUntil(bool (PulseOutput::*done)() const, int timeoutMs)
{
    timedOut_ = false;
    pa_time_event* timer = Pulse().pa_context_rttime_new(
        context_, Pulse().pa_rtclock_now() + pa_usec_t(timeoutMs) * 1000,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
            auto* out = static_cast<PulseOutput*>(self);
            out->timedOut_ = true;
            Pulse().pa_threaded_mainloop_signal(out->loop_, 0);
        },
        this);
    while (!(this->*done)())
        Pulse().pa_threaded_mainloop_wait(loop_);
    if (timer)
        Pulse().pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return !timedOut_;
}

bool PulseOutput::contextReady() const { return Pulse().pa_context_get_state(context_) == PA_CONTEXT_READY; }
bool PulseOutput::streamReady() const { return Pulse().pa_stream_get_state(stream_) == PA_STREAM_READY; }

bool PulseOutput::settle(bool (PulseOutput::*settled)() const, bool (PulseOutput::*ready)() const, std::string& why)
{
    if (!waitUntil(settled, options_.connectTimeoutMs)) {
        why = "the sound server does not answer";
        return false;
    }
    if ((this->*ready)())
        return true;
    why = Pulse().pa_strerror(Pulse().pa_context_errno(context_));
    return false;
}

bool PulseOutput::connect(std::string& why)
{
    loop_ = Pulse().pa_threaded_mainloop_new();
    if (!loop_) {
        why = "no PulseAudio main loop";
        return false;
    }
    pa_proplist* props = Pulse().pa_proplist_new();
    Pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Sonarel");
    Pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "sonarel");
    Pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "sonarel");
    Pulse().pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context_ = Pulse().pa_context_new_with_proplist(Pulse().pa_threaded_mainloop_get_api(loop_), "Sonarel", props);
    Pulse().pa_proplist_free(props);
    if (!context_) {
        why = "no PulseAudio context";
        return false;
    }
    Pulse().pa_context_set_state_callback(context_, &PulseOutput::onContextState, this);
    // Never start a server of our own: on a machine without one the program
    // stays silent rather than spawn daemons behind the user's back.
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (Pulse().pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        why = Pulse().pa_strerror(Pulse().pa_context_errno(context_));
        return false;
    }
    Locked lock(loop_);
    if (Pulse().pa_threaded_mainloop_start(loop_) < 0) {
        why = "the PulseAudio thread did not start";
        return false;
    }
    if (!settle(&PulseOutput::contextSettled, &PulseOutput::contextReady, why))
        return false;

    // Corked from the start: nothing is rendered or sent until the first note.
    if (!openStream(true, why) || !settle(&PulseOutput::streamSettled, &PulseOutput::streamReady, why))
        return false;
    bufferFrames_.store(growth_.size().frames);
    requestFrames_.store(growth_.size().request);
    if (const pa_buffer_attr* got = Pulse().pa_stream_get_buffer_attr(stream_)) {
        qCInfo(lcMidi, "PulseAudio stream: %u frames buffered, %u per request", unsigned(got->tlength / kFrameBytes),
               unsigned(got->minreq / kFrameBytes));
    }
    connected_ = true;
    return true;
}

bool PulseOutput::openStream(bool corked, std::string& why)
{
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, std::uint32_t(options_.sampleRate), kChannels};
    pa_channel_map map;
    Pulse().pa_channel_map_init_stereo(&map);
    stream_ = Pulse().pa_stream_new(context_, "Keyboard", &format, &map);
    if (!stream_) {
        why = Pulse().pa_strerror(Pulse().pa_context_errno(context_));
        return false;
    }
    Pulse().pa_stream_set_state_callback(stream_, &PulseOutput::onStreamState, this);
    Pulse().pa_stream_set_write_callback(stream_, &PulseOutput::onWrite, this);
    Pulse().pa_stream_set_underflow_callback(stream_, &PulseOutput::onUnderflow, this);
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    askFor(attr, growth_.size());
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (corked ? PA_STREAM_START_CORKED : 0));
    if (Pulse().pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        why = Pulse().pa_strerror(Pulse().pa_context_errno(context_));
        return false;
    }
    closed_.store(false);
    if (corked)
        armIdleTimer();  // a keyboard nobody plays leaves the server alone too
    return true;
}

void PulseOutput::closeStream()
{
    stopIdleTimer();
    if (!stream_)
        return;
    // Callbacks first: the stream's own end is no loss of the server.
    Pulse().pa_stream_set_write_callback(stream_, nullptr, nullptr);
    Pulse().pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    Pulse().pa_stream_set_state_callback(stream_, nullptr, nullptr);
    Pulse().pa_stream_disconnect(stream_);
    Pulse().pa_stream_unref(stream_);
    stream_ = nullptr;
    closed_.store(true);
}

void PulseOutput::stopIdleTimer()
{
    if (idleTimer_)
        Pulse().pa_threaded_mainloop_get_api(loop_)->time_free(idleTimer_);
    idleTimer_ = nullptr;
}

// Runs on the mainloop thread with its lock held; a note-on since would have
// uncorked and stopped the timer under the same lock.
void PulseOutput::restIdle()
{
    idleTimer_ = nullptr;  // a fired timer is freed by the caller below
    if (corked_.load() && stream_)
        closeStream();
}

PulseOutput::~PulseOutput()
{
    // The stream goes before the thread that serves it; nothing here waits
    // for the server to drain what it still holds.
    if (loop_) {
        {
            Locked lock(loop_);
            closeStream();
            if (context_) {
                Pulse().pa_context_set_state_callback(context_, nullptr, nullptr);
                Pulse().pa_context_disconnect(context_);
                Pulse().pa_context_unref(context_);
                context_ = nullptr;
            }
        }
        Pulse().pa_threaded_mainloop_stop(loop_);
        Pulse().pa_threaded_mainloop_free(loop_);
    } else if (context_) {
        Pulse().pa_context_unref(context_);
    }
}

void PulseOutput::markLost()
{
    if (lost_.exchange(true))
        return;
    qCWarning(lcMidi, "The sound server went away: the built-in synthesizer looks for it again");
    if (options_.onLost && connected_)
        options_.onLost();
}

PulseOutput::Growth::Growth(const Options& options)
    : size_{std::max(options.bufferFrames, 1), std::max(options.requestFrames, 1)},
      smallestRequest_(size_.request),
      largest_(options.largestBufferFrames)
{
}

std::optional<PulseOutput::Size> PulseOutput::Growth::ranDry()
{
    if (filled_ < size_.frames)
        return std::nullopt;
    const int grown = std::min(size_.frames * 4, largest_);
    if (grown <= size_.frames)
        return std::nullopt;
    // The request grows to a quarter of the buffer: on a busy machine a
    // server asked for a tiny piece every millisecond falls behind its own
    // requests whatever the buffer holds, and a key waits for the next
    // request, so it stays a small part of the delay.
    size_ = Size{grown, std::max(smallestRequest_, grown / 4)};
    filled_ = 0;
    return size_;
}

// Runs on the mainloop thread with its lock held. The server played out
// everything it had: the buffer grows, as the server's own clients grow
// theirs, so that a stall of this size is covered the next time.
void PulseOutput::onUnderflow(pa_stream* stream, void* self)
{
    auto* out = static_cast<PulseOutput*>(self);
    out->underruns_.fetch_add(1);
    if (out->options_.onRanDry)
        out->options_.onRanDry();
    const pa_buffer_attr* now = Pulse().pa_stream_get_buffer_attr(stream);
    if (!now || out->corked_.load())
        return;
    // Grown from what was asked for, not from what the server granted: with
    // an adjusted latency the server reports a part of it.
    const auto grown = out->growth_.ranDry();
    if (!grown)
        return;
    pa_buffer_attr attr = *now;
    askFor(attr, *grown);
    drop(Pulse().pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr));
    out->bufferFrames_.store(grown->frames);
    out->requestFrames_.store(grown->request);
    qCInfo(lcMidi, "The sound server ran dry: the stream's buffer grows to %d frames, asked for %d at a time",
           grown->frames, grown->request);
}

void PulseOutput::onContextState(pa_context* context, void* self)
{
    auto* out = static_cast<PulseOutput*>(self);
    const pa_context_state_t s = Pulse().pa_context_get_state(context);
    // A closed stream is no reason to miss the server going away.
    if (!PA_CONTEXT_IS_GOOD(s) && (out->stream_ || out->connected_))
        out->markLost();
    Pulse().pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* self)
{
    auto* out = static_cast<PulseOutput*>(self);
    if (!PA_STREAM_IS_GOOD(Pulse().pa_stream_get_state(stream)))
        out->markLost();
    Pulse().pa_threaded_mainloop_signal(out->loop_, 0);
}

void PulseOutput::onWrite(pa_stream*, std::size_t bytes, void* self)
{
    static_cast<PulseOutput*>(self)->write(bytes);
}

// Runs on the mainloop thread with its lock held.
void PulseOutput::write(std::size_t bytes)
{
    if (!realtimeAsked_) {
        // The rendering thread runs before other work where the system lets
        // it (as root, or with a real-time limit); elsewhere it stays as it is.
        realtimeAsked_ = true;
        sched_param param{};
        param.sched_priority = kRealtimePriority;
        if (sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) != 0)
            qCDebug(lcMidi, "The rendering thread keeps its ordinary priority");
    }
    if (options_.beforeRender)
        options_.beforeRender();
    const std::uint64_t wakesBefore = wakes_.load();
    std::size_t frames = bytes / kFrameBytes;
    if (frames == 0)
        return;
    void* data = nullptr;
    std::size_t size = frames * kFrameBytes;
    float* samples = nullptr;
    if (Pulse().pa_stream_begin_write(stream_, &data, &size) == 0 && data && size >= kFrameBytes) {
        frames = size / kFrameBytes;
        samples = static_cast<float*>(data);
    } else {
        if (data)
            Pulse().pa_stream_cancel_write(stream_);
        spare_.resize(frames * kChannels);
        samples = spare_.data();
    }
    if (options_.render)
        options_.render(int(frames), samples);
    else
        Fluid().fluid_synth_write_float(synth_, int(frames), samples, 0, kChannels, samples, 1, kChannels);
    growth_.rendered(std::int64_t(frames));
    float peak = 0;
    for (std::size_t i = 0; i < frames * kChannels; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    const bool audible = peak > kAudible;
    if (audible && !audible_)
        soundStartNs_.store(nowNs());
    audible_ = audible;
    audibleNow_.store(audible);
    Pulse().pa_stream_write(stream_, samples, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);

    if (audible || Fluid().fluid_synth_get_active_voice_count(synth_) > 0 || (options_.keepAwake && options_.keepAwake())) {
        silentFrames_ = 0;
        return;
    }
    silentFrames_ += std::int64_t(frames);
    if (silentFrames_ < std::int64_t(options_.idleMs) * options_.sampleRate / 1000)
        return;
    // Rest. A note-on that came in after this buffer was rendered either is
    // seen here (wakes_ moved) or sees corked_ and uncorks: wake() stores the
    // count before it reads the flag, and this stores the flag before it
    // reads the count.
    corked_.store(true);
    if (wakes_.load() != wakesBefore) {
        corked_.store(false);
        silentFrames_ = 0;
        return;
    }
    drop(Pulse().pa_stream_cork(stream_, 1, nullptr, nullptr));
    audibleNow_.store(false);
    armIdleTimer();
}

void PulseOutput::armIdleTimer()
{
    stopIdleTimer();
    idleTimer_ = Pulse().pa_context_rttime_new(
        context_, Pulse().pa_rtclock_now() + pa_usec_t(options_.closeMs) * 1000,
        [](pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
            static_cast<PulseOutput*>(self)->restIdle();
            api->time_free(event);
        },
        this);
}

void PulseOutput::wake()
{
    wakes_.fetch_add(1);
    if (!corked_.load() || lost_.load())
        return;
    Locked lock(loop_);
    if (!corked_.load() || lost_.load())
        return;
    stopIdleTimer();
    if (!stream_) {
        // Closed after a long rest: a new stream, playing as soon as the
        // server has it; nothing here waits for the server.
        std::string why;
        if (!openStream(false, why)) {
            qCWarning(lcMidi, "The sound server refused a new stream: %s", why.c_str());
            closeStream();
            return;
        }
    } else {
        if (Pulse().pa_stream_get_state(stream_) != PA_STREAM_READY)
            return;
        // What the stream still holds is old silence: dropped, so the server
        // asks for fresh sound at once.
        drop(Pulse().pa_stream_flush(stream_, nullptr, nullptr));
        drop(Pulse().pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    silentFrames_ = 0;
    growth_.started();
    corked_.store(false);
}

std::int64_t PulseOutput::bufferedUs()
{
    if (lost_.load())
        return -1;
    Locked lock(loop_);
    if (!stream_)
        return -1;  // closed while resting
    pa_operation* op = Pulse().pa_stream_update_timing_info(
        stream_, [](pa_stream*, int, void* loop) { Pulse().pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        loop_);
    if (!op)
        return -1;
    while (Pulse().pa_operation_get_state(op) == PA_OPERATION_RUNNING && !lost_.load())
        Pulse().pa_threaded_mainloop_wait(loop_);
    Pulse().pa_operation_unref(op);
    const pa_timing_info* t = Pulse().pa_stream_get_timing_info(stream_);
    if (!t || t->write_index_corrupt || t->read_index_corrupt)
        return -1;
    const std::int64_t bytes = std::max<std::int64_t>(t->write_index - t->read_index, 0);
    return bytes * 1000000 / (std::int64_t(kFrameBytes) * options_.sampleRate);
}

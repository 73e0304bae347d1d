#pragma once
// The PulseAudio client library, opened by the sound's own thread when it
// first connects rather than when the program starts: the library and the
// dozen it brings (sound file codecs, D-Bus, systemd's) would cost every start
// some 4 ms before the window shows. Its functions are called through this
// table.
#include <pulse/pulseaudio.h>

#include <string>

namespace pulselib {

#define SONAREL_PULSE_FUNCTIONS(X)                                                                                 \
    X(pa_threaded_mainloop_new) X(pa_threaded_mainloop_free) X(pa_threaded_mainloop_start)                        \
    X(pa_threaded_mainloop_stop) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_unlock)                      \
    X(pa_threaded_mainloop_wait) X(pa_threaded_mainloop_signal) X(pa_threaded_mainloop_get_api)                   \
    X(pa_proplist_new) X(pa_proplist_sets) X(pa_proplist_free) X(pa_context_new_with_proplist)                    \
    X(pa_context_set_state_callback) X(pa_context_connect) X(pa_context_disconnect) X(pa_context_unref)           \
    X(pa_context_get_state) X(pa_context_errno) X(pa_context_rttime_new) X(pa_rtclock_now) X(pa_strerror)         \
    X(pa_channel_map_init_stereo) X(pa_stream_new) X(pa_stream_set_state_callback)                                \
    X(pa_stream_set_write_callback) X(pa_stream_set_underflow_callback) X(pa_stream_connect_playback)            \
    X(pa_stream_disconnect) X(pa_stream_unref) X(pa_stream_get_state) X(pa_stream_get_buffer_attr)               \
    X(pa_stream_set_buffer_attr) X(pa_stream_begin_write) X(pa_stream_cancel_write) X(pa_stream_write)           \
    X(pa_stream_cork) X(pa_stream_flush) X(pa_stream_update_timing_info) X(pa_stream_get_timing_info)             \
    X(pa_operation_get_state) X(pa_operation_unref)

struct Api {
#define SONAREL_PULSE_POINTER(name) decltype(&::name) name = nullptr;
    SONAREL_PULSE_FUNCTIONS(SONAREL_PULSE_POINTER)
#undef SONAREL_PULSE_POINTER
};

// Opens the library the first time (any thread); false, with the reason,
// when it or one of its functions cannot be found.
bool Load(std::string& why);

// The functions, once Load has succeeded.
const Api& Pulse();

}  // namespace pulselib

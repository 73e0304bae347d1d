#pragma once
// FluidSynth, opened when the synthesizer is first made rather than when the
// program starts: the library and the dozens it brings (sound file codecs,
// GLib, SDL2 ...) would cost every start some 10 ms before the window shows.
// Its functions are called through this table.
#include <fluidsynth.h>

#include <string>

namespace fluidlib {

#define SONAREL_FLUID_FUNCTIONS(X)                                                                               \
    X(new_fluid_settings)                                                                                        \
    X(delete_fluid_settings) X(fluid_settings_setnum) X(fluid_settings_setint) X(fluid_settings_setstr)        \
    X(fluid_settings_getint) X(fluid_settings_get_type) X(fluid_settings_dupstr) X(new_fluid_synth)            \
    X(delete_fluid_synth) X(fluid_synth_sfload) X(fluid_synth_noteon) X(fluid_synth_noteoff) X(fluid_synth_cc) \
    X(fluid_synth_program_change) X(fluid_synth_pitch_bend) X(fluid_synth_key_pressure)                        \
    X(fluid_synth_channel_pressure) X(fluid_synth_all_sounds_off) X(fluid_synth_all_notes_off)                 \
    X(fluid_synth_write_s16) X(fluid_synth_write_float) X(fluid_synth_get_active_voice_count)                  \
    X(fluid_synth_get_internal_bufsize)                                                                        \
    X(new_fluid_audio_driver) X(delete_fluid_audio_driver) X(fluid_set_log_function) X(fluid_free)

struct Api {
#define SONAREL_FLUID_POINTER(name) decltype(&::name) name = nullptr;
    SONAREL_FLUID_FUNCTIONS(SONAREL_FLUID_POINTER)
#undef SONAREL_FLUID_POINTER
};

// Opens the library the first time (any thread); false, with the reason,
// when it or one of its functions cannot be found.
bool Load(std::string& why);

// The functions, once Load has succeeded.
const Api& Fluid();

}  // namespace fluidlib

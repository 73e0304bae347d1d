#include "midi/services/rtmidisystems.h"

#include "midi/services/audiosystem.h"
#include "midi/services/servicelog.h"

#include <algorithm>
#include <cctype>

namespace rtmidisystems {
namespace {

bool isThroughPort(const std::string& name) { return name.rfind("Midi Through", 0) == 0; }

}  // namespace

bool ApiUsable(RtMidi::Api api)
{
    switch (api) {
    case RtMidi::LINUX_ALSA:
        return AudioSystem::AlsaSequencerPresent();
    case RtMidi::UNIX_JACK:
        // With no server, RtMidi's JACK back end crashes inside libjack when
        // asked for a port name or to open a port: ask the server first.
        return AudioSystem::JackServerAnswers();
    case RtMidi::RTMIDI_DUMMY:
    case RtMidi::UNSPECIFIED:
        return false;
    default:
        return true;
    }
}

// Its texts go to the debug log; the failure itself reaches the caller as a
// result, and the caller decides what becomes of it.
void ReportError(RtMidiError::Type type, const std::string& text, void* failed)
{
    qCDebug(lcMidi, "rtmidi: %s", text.c_str());
    if (failed && type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        *static_cast<bool*>(failed) = true;
}

template <typename Client>
std::unique_ptr<Client> MakeClient(RtMidi::Api api, bool* failed)
{
    if (!ApiUsable(api))
        return nullptr;
    try {
        auto client = std::make_unique<Client>(api, kClientName);
        client->setErrorCallback(ReportError, failed);
        return client;
    } catch (const std::exception& e) {
        qCDebug(lcMidi, "rtmidi: %s", e.what());
    } catch (...) {
        qCDebug(lcMidi, "rtmidi: unknown failure creating a client");
    }
    return nullptr;
}

template <typename Client>
std::vector<Port> ListPorts()
{
    std::vector<Port> ports;
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (const RtMidi::Api api : apis) {
        bool failed = false;
        auto client = MakeClient<Client>(api, &failed);
        if (!client)
            continue;
        try {
            const unsigned count = client->getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = client->getPortName(i);
                // The program's own ports are left out: its output sent to
                // its own input would strike every note again, for ever.
                if (!name.empty() && name.rfind(std::string(kClientName) + ":", 0) != 0)
                    ports.push_back({int(api), std::move(name)});
            }
        } catch (const std::exception& e) {
            qCDebug(lcMidi, "rtmidi: %s", e.what());
        }
    }
    // ALSA's pass-through port is always there and does nothing by itself;
    // listing it last lets "the first port" be an instrument.
    std::stable_partition(ports.begin(), ports.end(), [](const Port& p) { return !isThroughPort(p.name); });
    return ports;
}

template std::unique_ptr<RtMidiOut> MakeClient<RtMidiOut>(RtMidi::Api, bool*);
template std::unique_ptr<RtMidiIn> MakeClient<RtMidiIn>(RtMidi::Api, bool*);
template std::vector<Port> ListPorts<RtMidiOut>();
template std::vector<Port> ListPorts<RtMidiIn>();

}  // namespace rtmidisystems

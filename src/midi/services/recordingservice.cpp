#include "midi/services/recordingservice.h"

#include <algorithm>
#include <cstdio>

int RecordingService::deviceAnswers(int deviceId)
{
    calls.push_back("answers " + std::to_string(deviceId));
    if (deviceId == -1)
        return mapperAnswers ? MidiResult::Ok : MidiResult::BadDeviceId;
    if (deviceId < 0 || deviceId >= devices)
        return MidiResult::BadDeviceId;
    if (!answeringDevices.empty()
        && std::find(answeringDevices.begin(), answeringDevices.end(), deviceId) == answeringDevices.end())
        return MidiResult::BadDeviceId;
    return MidiResult::Ok;
}

int RecordingService::deviceCount()
{
    calls.push_back("count");
    return devices;
}

int RecordingService::open(int deviceId, std::uint32_t& handle)
{
    calls.push_back("open " + std::to_string(deviceId));
    if (openResult != 0)
        return openResult;
    openHandle_ = nextHandle_++;
    handle = openHandle_;
    return MidiResult::Ok;
}

int RecordingService::close(std::uint32_t handle)
{
    calls.push_back("close " + std::to_string(handle));
    if (handle != openHandle_ || handle == 0)
        return MidiResult::InvalidHandle;
    openHandle_ = 0;
    return MidiResult::Ok;
}

int RecordingService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    calls.push_back("send");
    const Message m{handle, std::uint8_t(message & 0xFF), std::uint8_t((message >> 8) & 0xFF),
                    std::uint8_t((message >> 16) & 0xFF), clock_};
    attempts.push_back(m);
    if (sendResult != 0)
        return sendResult;
    if (failOnClosedHandle && (handle == 0 || handle != openHandle_))
        return MidiResult::InvalidHandle;
    messages.push_back(m);
    return MidiResult::Ok;
}

void RecordingService::clear()
{
    calls.clear();
    messages.clear();
    attempts.clear();
}

std::string RecordingService::bytes() const
{
    std::string out;
    char buf[16];
    for (const auto& m : messages) {
        std::snprintf(buf, sizeof buf, "%s%02X %02X %02X", out.empty() ? "" : ",", m.status, m.data1, m.data2);
        out += buf;
    }
    return out;
}

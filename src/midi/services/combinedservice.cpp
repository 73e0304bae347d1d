#include "midi/services/combinedservice.h"

#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"

CombinedService::CombinedService(std::unique_ptr<SynthService> synth, std::unique_ptr<PortService> ports,
                                 bool defaultIsPort)
    : synth_(std::move(synth)), ports_(std::move(ports)), defaultIsPort_(defaultIsPort)
{
}

CombinedService::~CombinedService()
{
    for (const auto& [handle, route] : routes_)
        route.service->close(route.handle);
}

MidiService* CombinedService::serviceFor(int deviceId) const
{
    if (deviceId == -1 && !defaultIsPort_)
        return synth_.get();
    return ports_.get();
}

int CombinedService::deviceAnswers(int deviceId)
{
    MidiService* service = serviceFor(deviceId);
    return service ? service->deviceAnswers(deviceId) : MidiResult::BadDeviceId;
}

int CombinedService::deviceCount()
{
    return ports_ ? ports_->deviceCount() : 0;
}

int CombinedService::open(int deviceId, std::uint32_t& handle)
{
    MidiService* service = serviceFor(deviceId);
    if (!service)
        return MidiResult::BadDeviceId;
    std::uint32_t inner = 0;
    const int result = service->open(deviceId, inner);
    if (result != MidiResult::Ok)
        return result;
    const std::uint32_t outer = nextHandle_++;
    if (nextHandle_ == 0)
        nextHandle_ = 1;
    routes_[outer] = {service, inner};
    handle = outer;
    return MidiResult::Ok;
}

int CombinedService::close(std::uint32_t handle)
{
    const auto it = routes_.find(handle);
    if (it == routes_.end())
        return MidiResult::InvalidHandle;
    const Route route = it->second;
    routes_.erase(it);
    return route.service->close(route.handle);
}

int CombinedService::sendShortMsg(std::uint32_t handle, std::uint32_t message)
{
    const auto it = routes_.find(handle);
    if (it == routes_.end())
        return MidiResult::InvalidHandle;
    return it->second.service->sendShortMsg(it->second.handle, message);
}

bool CombinedService::startClicks(std::uint32_t handle, const ClickPattern& pattern)
{
    const auto it = routes_.find(handle);
    return it != routes_.end() && it->second.service->startClicks(it->second.handle, pattern);
}

void CombinedService::stopClicks(std::uint32_t handle)
{
    if (const auto it = routes_.find(handle); it != routes_.end())
        it->second.service->stopClicks(it->second.handle);
}

void CombinedService::setDefault(const std::string& port)
{
    defaultIsPort_ = !port.empty() && ports_;
    if (ports_)
        ports_->setDefaultPort(port);
}

std::string CombinedService::describe(int deviceId)
{
    MidiService* service = serviceFor(deviceId);
    if (!service)
        return "none";
    if (service == synth_.get())
        return "synthesizer";
    const auto& list = ports_->ports().empty() ? ports_->refresh() : ports_->ports();
    int index = deviceId;
    if (deviceId == -1)
        index = ports_->findPort(ports_->defaultPort());
    if (index < 0 || index >= int(list.size()))
        return "none";
    return "port " + list[std::size_t(index)].name;
}

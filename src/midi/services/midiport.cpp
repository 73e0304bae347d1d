#include "midi/services/midiport.h"

#include <algorithm>
#include <cctype>

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool parseNumber(const std::string& text, int& number)
{
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    number = std::stoi(text);
    return true;
}

}  // namespace

int FindMidiPort(const std::vector<MidiPort>& ports, const std::string& name)
{
    int number = -1;
    if (parseNumber(name, number))
        return number < int(ports.size()) ? number : -1;
    if (name.empty())
        return -1;
    const std::string wanted = lower(name);
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (lower(ports[i].name) == wanted)
            return int(i);
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (lower(ports[i].name).find(wanted) != std::string::npos)
            return int(i);
    return -1;
}

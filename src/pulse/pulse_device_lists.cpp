#include "pulse/pulse_device_lists.h"

#include "pulse/pulse_wave_device.h"

#include <algorithm>

namespace sonavik::pulse {

namespace {

struct ListQuery {
    Connection* connection;
    std::vector<PulseDeviceInfo>* out;
    bool failed = false;
};

template <typename Info>
void collect(pa_context*, const Info* info, int eol, void* query)
{
    auto* q = static_cast<ListQuery*>(query);
    if (eol < 0)
        q->failed = true;
    if (eol != 0 || !info) {
        q->connection->signal();
        return;
    }
    q->out->push_back({info->name ? info->name : "", info->description ? info->description : "", false});
}

struct DefaultsQuery {
    Connection* connection;
    std::string sink;
    std::string source;
};

void collectDefaults(pa_context*, const pa_server_info* info, void* query)
{
    auto* q = static_cast<DefaultsQuery*>(query);
    if (info) {
        q->sink = info->default_sink_name ? info->default_sink_name : "";
        q->source = info->default_source_name ? info->default_source_name : "";
    }
    q->connection->signal();
}

// Devices of the same description are told apart in the lists, and chosen by, the later ones
// numbered in the server's order: "Null Output", "Null Output (2)".
void tellApart(std::vector<PulseDeviceInfo>& list)
{
    for (std::size_t i = 1; i < list.size(); ++i) {
        int same = 1;
        for (std::size_t j = 0; j < i; ++j)
            same += list[j].description == list[i].description ? 1 : 0;
        if (same > 1) {
            std::string numbered = list[i].description + " (" + std::to_string(same) + ")";
            // A device whose own description reads so already gets a further number.
            while (std::any_of(list.begin(), list.end(), [&](const PulseDeviceInfo& d) { return d.description == numbered; }))
                numbered = list[i].description + " (" + std::to_string(++same) + ")";
            list[i].description = numbered;
        }
    }
}

} // namespace

// The devices of one direction with the default marked; nothing when the server does not answer.
std::optional<std::vector<PulseDeviceInfo>> queryDevices(Connection& c, bool sinks)
{
    pa_context* context = c.ready();
    if (!context)
        return std::nullopt;
    DefaultsQuery defaults{&c, {}, {}};
    if (!c.finish(pa_context_get_server_info(context, &collectDefaults, &defaults)))
        return std::nullopt;
    std::vector<PulseDeviceInfo> list;
    ListQuery query{&c, &list};
    pa_operation* operation = sinks ? pa_context_get_sink_info_list(context, &collect<pa_sink_info>, &query)
                                    : pa_context_get_source_info_list(context, &collect<pa_source_info>, &query);
    if (!c.finish(operation) || query.failed)
        return std::nullopt;
    const std::string& wanted = sinks ? defaults.sink : defaults.source;
    for (PulseDeviceInfo& d : list)
        d.isDefault = d.name == wanted;
    tellApart(list);
    return list;
}

// The server name of device (or of the default device for kWaveMapper) into name.
int resolveDevice(Connection& c, bool sinks, int device, std::string& name, std::string* description)
{
    const auto list = queryDevices(c, sinks);
    if (!list)
        return mm::NoDriver;
    if (device == kWaveMapper) {
        if (list->empty())
            return mm::NoDriver;
        const auto found = std::find_if(list->begin(), list->end(), [](const PulseDeviceInfo& d) { return d.isDefault; });
        // A server without a default lets a stream go where it routes it.
        const PulseDeviceInfo& chosen = found != list->end() ? *found : list->front();
        name = found != list->end() ? chosen.name : std::string();
        if (description)
            *description = chosen.description;
        return mm::NoError;
    }
    if (device < 0 || static_cast<std::size_t>(device) >= list->size())
        return mm::BadDeviceId;
    name = (*list)[static_cast<std::size_t>(device)].name;
    if (description)
        *description = (*list)[static_cast<std::size_t>(device)].description;
    return mm::NoError;
}

// The device to open for format, in target: the server's name of it; the result code otherwise.
int lookUp(Connection& c, bool sinks, int device, const WaveDeviceFormat& format, std::string& target)
{
    if (const int code = resolveDevice(c, sinks, device, target); code != mm::NoError)
        return code;
    return checkPcmFormat(format);
}

int deviceCountOf(Connection& c, bool sinks)
{
    CallLock lock(c);
    const auto list = queryDevices(c, sinks);
    return list ? static_cast<int>(list->size()) : 0;
}

int capabilitiesOf(Connection& c, bool sinks, int device, std::uint32_t support, WaveDeviceCaps& caps)
{
    if (!c.works())
        return mm::NoDriver;
    CallLock lock(c);
    std::string name, description;
    if (const int code = resolveDevice(c, sinks, device, name, &description); code != mm::NoError)
        return code;
    caps.name = description.empty() ? name : description;
    caps.support = support;
    return mm::NoError;
}

} // namespace sonavik::pulse

namespace sonavik {

using namespace pulse;

int checkPcmFormat(const WaveDeviceFormat& f)
{
    const bool ok = f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
                    (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
                    f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec >= 1 &&
                    f.samplesPerSec <= PA_RATE_MAX;
    return ok ? mm::NoError : mm::BadFormat;
}

std::optional<PulseDeviceLists> listPulseDevices(bool* notAnswering)
{
    if (notAnswering)
        *notAnswering = false;
    Connection c;
    if (!c.works())
        return std::nullopt;
    CallLock lock(c);
    auto sinks = queryDevices(c, true);
    auto sources = sinks ? queryDevices(c, false) : std::nullopt;
    if (!sinks || !sources) {
        if (notAnswering)
            *notAnswering = c.unanswered();
        return std::nullopt;
    }
    return PulseDeviceLists{std::move(*sinks), std::move(*sources)};
}

int pulseDeviceNumber(const std::vector<PulseDeviceInfo>& list, const std::string& wanted)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].name == wanted || list[i].description == wanted)
            return static_cast<int>(i);
    return -1;
}

} // namespace sonavik

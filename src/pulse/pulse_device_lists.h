#pragma once
// Inside the wave devices on PulseAudio: the server's sinks and sources asked for on a connection, and a
// device number turned into the server's name of it.

#include "pulse/pulse_connection.h"
#include "pulse/pulse_wave_device.h"

#include <optional>
#include <string>
#include <vector>

namespace sonavik::pulse {

// The devices of one direction with the default marked; nothing when the server does not answer. Lock held.
std::optional<std::vector<PulseDeviceInfo>> queryDevices(Connection& c, bool sinks);

// The server name of device (or of the default device for kWaveMapper) into name. Lock held.
int resolveDevice(Connection& c, bool sinks, int device, std::string& name, std::string* description = nullptr);

// The device to open for format, in target: the server's name of it; the result code otherwise. Lock held.
int lookUp(Connection& c, bool sinks, int device, const WaveDeviceFormat& format, std::string& target);

// These take the lock themselves.
int deviceCountOf(Connection& c, bool sinks);
int capabilitiesOf(Connection& c, bool sinks, int device, std::uint32_t support, WaveDeviceCaps& caps);

} // namespace sonavik::pulse

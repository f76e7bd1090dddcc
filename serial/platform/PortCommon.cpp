// The parts of the port layer that are the same on every platform.
#include "serial/platform/Port.h"

namespace port {

namespace {

DeviceResolver &Resolver()
{
    static DeviceResolver resolver;
    return resolver;
}

} // namespace

DeviceResolver SetDeviceResolver(DeviceResolver resolver)
{
    DeviceResolver previous = std::move(Resolver());
    Resolver() = std::move(resolver);
    return previous;
}

bool IsNetworkDevice(std::string_view name)
{
    return name.starts_with("rfc2217://") || name.starts_with("tcp://");
}

std::string ResolveDevice(const std::string &name)
{
    return Resolver() ? Resolver()(name) : PlatformDeviceName(name);
}

} // namespace port

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

bool IsNetworkDevice(const std::string &name)
{
    return name.rfind("rfc2217://", 0) == 0 || name.rfind("tcp://", 0) == 0;
}

std::string ResolveDevice(const std::string &name)
{
    return Resolver() ? Resolver()(name) : PlatformDeviceName(name);
}

} // namespace port

#pragma once
// The Windows headers as the port layer includes them, and its handles as the system's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // the C++ library may have defined it already
#define NOMINMAX
#endif
#include <windows.h>

#include "serial/platform/Port.h"

namespace port {

inline HANDLE Native(NativeHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace port

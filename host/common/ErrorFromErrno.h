// The platform's error code for a host errno value, for the host's file and
// registry calls on both sides.
#pragma once

#include <windows.h>

namespace cehost {

DWORD ErrorFromErrno(int err);

}  // namespace cehost

// What the file calls report of a host file, as the device reports it.
#pragma once

#include <sys/stat.h>

#include "Kernel.h"

namespace cehost {

// Directory or archive, and read-only when its owner may not write it.
DWORD Attributes(const struct stat& st);
// A host time as a FILETIME: 100 ns steps since 1601.
FILETIME ToFileTime(const struct timespec& ts);

}  // namespace cehost

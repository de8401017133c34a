// A program's resources. On the device the resource compiler puts them into
// the executable; on the host the build links a table that registers them
// before the program starts (see ce_add_resources in the build).
#pragma once

#include <windows.h>

#include <cstddef>

namespace cehost {

// type: the ordinal of RT_DIALOG (data: a DLGTEMPLATEW), RT_BITMAP (the
// bytes of a .bmp file) or RT_GROUP_ICON (the bytes of a .ico file).
void RegisterResource(WORD type, WORD id, const void* data, size_t size);

}  // namespace cehost

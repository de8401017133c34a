// A program's resources. On the device the resource compiler's output is
// part of the executable; on the host the build links it into the program
// (see ce_add_resources in the build), which registers it before it starts.
#pragma once

#include <cstddef>

namespace cehost {

// image: the resource compiler's binary output, a .res file: per resource
// one header (sizes, type, name, flags, language) and its data, each
// aligned to 4 bytes. Resources are found by the ordinals of their type and
// name; one named by text is not registered. A program has one module:
// an image registered replaces the one before.
void RegisterResources(const void* image, std::size_t size);

}  // namespace cehost

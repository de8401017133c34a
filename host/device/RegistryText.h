// The registry as REGEDIT4 text, the form of the device's registry file.
#pragma once

#include <string>
#include <string_view>

#include "RegistryStore.h"

namespace cehost {

// The persistent keys below root and their values; volatile keys are left out.
std::string WriteRegistryText(const RegistryStore::Key& root);
// Reads the text's keys and values into root; false with "line N: why".
bool ReadRegistryText(const std::string& text, RegistryStore::Key* root, std::string* error);
// Whether a key or value name can be written in the text: no control characters.
bool TextCanHold(std::u16string_view name);

}  // namespace cehost

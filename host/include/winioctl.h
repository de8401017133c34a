// Kept for the device SDK's include names; everything is in windows.h.
#pragma once

#include <windows.h>

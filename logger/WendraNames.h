// The names by which programs and tests outside Wendra find it and its
// window: the suffix of its main window's title and instance mutex, and its
// resource ids. Plain values, without the framework.
#pragma once

#include <windows.h>

#include "resource.h"

// Application name + INSTANCE_SUFFIX: the instance mutex's name and the main window's title.
constexpr WCHAR INSTANCE_SUFFIX[] = TEXT("@kelbrun<*+~#$>");
constexpr int INSTANCE_SUFFIX_CHARS = sizeof INSTANCE_SUFFIX / sizeof INSTANCE_SUFFIX[0] - 1;

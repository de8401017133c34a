// The platform's umbrella header, as Windows CE code includes it.
#pragma once

#include "ce/types.h"
#include "ce/kernel.h"
#include "ce/files.h"
#include "ce/registry.h"
#include "ce/devices.h"
#include "ce/serial.h"
#include "ce/ui.h"

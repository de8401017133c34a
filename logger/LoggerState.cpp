#include "LoggerState.h"

double maxSpeed = 0.0;
BOOL fixShown = TRUE;
BOOL blinkPhase = FALSE;
DWORD recordTick = 0;

// A navigation program inside the program that loads the core library:
// with CE_RELAY_CLIENT=COM6: a thread waits for that device, opens it and
// reads it all the time, as a navigation program reads the relay, so that
// what the receiver sends reaches the tap. The relay's driver lives in this
// program's device manager, so its client must be a thread of this program.
//
// CE_RELAY_GATE=N holds the reading back after N bytes until the program
// has handled a message in which it killed a timer (Wendra's wait for a fix
// ends in one, and logging has begun when it is handled), so a test's log
// starts at the same sentence on every run.
// CE_RELAY_OUTPUT=PATH writes what is read to that file, for a program
// outside.
#pragma once

namespace coredll {

void StartRelayClient();
// Ends the reading and closes the relay; before the process's end.
void StopRelayClient();
// The program has handled a message in which it killed a timer.
void TimerKilled();

}  // namespace coredll

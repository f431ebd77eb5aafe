// Hooks that let tests point the log at a temporary folder and control its clock.
#pragma once

struct LogClock {
    int year, month, day, hour, minute, second, millisecond;
};

// Empties the log path registry, puts the rotation counter back to its starting value
// and restores the real clock. Call after platform::OverrideModuleFileName.
void ResetLogForTesting();

int LogRotationCounterForTesting();
void SetLogRotationCounterForTesting(int value);

// Replaces the local-time source of both writers; nullptr restores the real clock.
void SetLogClockForTesting(LogClock (*now)());

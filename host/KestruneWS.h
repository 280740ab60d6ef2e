// The program's main sequence: mode, window, settings, listeners, message loop, tear-down.
#pragma once

inline constexpr const char* kMainWindowTitle = "Kestrune Web Server";

// Fixed once at start: true when the process runs under the service framework.
extern bool ServiceMode;

// Service mode on an NT-family platform or with the NT switch, unless the WIN95 switch is given.
bool ServiceModeFor(bool ntPlatform, bool ntSwitch, bool win95Switch);

// Runs the program on the main thread and returns its exit code. Errors it does not handle propagate to the
// caller's last-resort report. Creates MainApp and, in service mode,
// ServiceApplication when the caller has not.
int RunKestruneWS();

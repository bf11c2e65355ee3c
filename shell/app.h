// The process entry of the updater.
#pragma once

// Single-instance guard, the windows in their order, the message loop. Always returns 0.
int RunQuillet(int argc, char** argv);

#pragma once

// Runs the application as the session's one instance, or hands the request to one that took the name meanwhile; the
// exit status. Loaded by name from beside the executable.
extern "C" int tavrine_run_application(int *argumentCount, char **arguments);
using TavrineRunApplication = int (*)(int *argumentCount, char **arguments);

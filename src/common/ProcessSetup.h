#pragma once
// Process-wide set-up that every program of the project does once, at start-up.

/// Ignores SIGPIPE for the whole process: a write to a closed pipe (a console reader that went
/// away, a socket whose peer closed) then fails with an error instead of ending the program.
/// Sockets already send without the signal; this covers standard output and error. Safe to
/// call more than once. Children started later inherit the ignored signal across exec, so a
/// program that starts others should restore the default in the child first.
void ignoreBrokenPipeSignal();

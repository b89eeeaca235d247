#pragma once

/// SIGTERM, SIGINT and SIGHUP end the program the way closing the window does: the handler only
/// notes the signal (an atomic flag, and a byte down a pipe for whoever waits on file
/// descriptors); the frame loop sees the note, stops, and the teardown runs in its usual order.
namespace quorv::app {

/// Installs the handlers. Call once, first thing in main.
void catchEndSignals();
/// Whether one of the three signals has arrived.
bool endRequested();
/// The signal that arrived first (0 when none).
int endSignal();
/// Readable once a signal has arrived (the self-pipe's reading end), for waits on descriptors;
/// -1 before catchEndSignals.
int endSignalDescriptor();

}  // namespace quorv::app

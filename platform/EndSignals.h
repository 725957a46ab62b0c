#pragma once
// The signals that end a program (SIGTERM at the end of the session,
// SIGHUP, Ctrl-C's SIGINT), turned into an event for the main loop.
//
// Handlers, not a blocked mask read through signalfd: a blocked mask is
// inherited by every process we start (the other program, the file opener,
// the desktop's settings), which would then ignore the end of the session.
// Handlers fall back to the default at exec.

namespace platform {

// Unblocks every signal, whatever the process that started us had blocked,
// so that a program started with SIGTERM blocked still ends at logout and
// passes no blocked signal on to the processes it starts.
void unblockAllSignals();

// Installs the handlers and unblocks the three signals. Returns the read
// end of a non-blocking, close-on-exec pipe that becomes readable once one
// of them arrived (read it empty), or -1 when no pipe could be made: the
// signals then keep their default action and end the program at once.
int watchEndSignals();

}  // namespace platform

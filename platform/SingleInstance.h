#pragma once

// Keeps the program to one running instance: takes an exclusive lock on a
// lock file named from "PREVINST: " and the executable's base name in the
// user's runtime directory, held until the process ends. Returns true when
// this process may run: it got the lock, or "task" (any letter case) stands
// among the first six command-line words (program path included).
//
// When no lock file can be made at all (no writable runtime folder, a file
// system without locks) the program runs anyway, with a warning on stderr:
// refusing to start without a word would look like a dead program to the
// user, and the instruments' ports are opened exclusively in any case.
//
// A start that is refused first asks the running program to show its main
// window, through a datagram socket beside the lock (same name, ".sock"),
// and ends only then. The instance that holds the lock listens on that
// socket; a copy started with "task" neither listens nor asks. Every copy,
// "task" copies included, counts as running until it ends: while one runs,
// only "task" starts another.
bool SingleInstanceCheck(int argc, const char* const* argv);

// The one request the channel carries. Anything else that arrives (other
// bytes, a longer message, a sender of another user) is dropped.
inline constexpr char ShowWindowRequest[] = "ulmaro: show main window";

// The listening socket of the instance that holds the lock, for the event
// loop to watch (non-blocking); -1 when this process does not listen.
int ShowRequestSocket();
// Reads everything waiting on the socket without blocking; returns how many
// valid show requests were among it.
int TakeShowRequests();
// Sends `size` bytes as one message to the channel at `path`; true when it
// was delivered to a listening socket. Used by a refused start, and by tests
// to send what a well-behaved start never would.
bool SendToShowChannel(const char* path, const void* bytes, unsigned long size);

// The socket's full path for a given executable base name (valid until the
// next call from the same thread).
const char* SingleInstanceSocketPath(const char* baseName);

// The lock file's full path for a given executable base name (the text
// stays valid until the next call from the same thread).
const char* SingleInstanceLockPath(const char* baseName);

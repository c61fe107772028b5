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
bool SingleInstanceCheck(int argc, const char* const* argv);

// The lock file's full path for a given executable base name (the text
// stays valid until the next call from the same thread).
const char* SingleInstanceLockPath(const char* baseName);

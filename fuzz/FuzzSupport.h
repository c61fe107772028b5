#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A private scratch folder for the whole fuzzing run (in memory when the
// machine has /dev/shm), removed at exit.
const std::string& FuzzScratchDir();

// Replaces the file with exactly these bytes; aborts when that fails, since
// every later result would be meaningless.
void FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size);

// Stops the run with a message when an invariant of the code under test
// does not hold (libFuzzer records the input as a crash).
void FuzzCheck(bool ok, const char* what);

// Shared set-up of the fuzz targets: the run-time with an offscreen display, the program's
// callbacks and (where a target draws or shows status texts) its five panels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvorfuzz {

// Starts the run-time offscreen and registers the program's callbacks. Once per process.
void StartRuntime(int *argc, char ***argv);
// Loads the five panels from the built panel file and gives the state its defaults.
void LoadProgramPanels();
// A scratch file of this process (in memory where the system has it), written with 'data'.
std::string WriteScratchFile(const char *name, const uint8_t *data, size_t size);
// Stops the process when a property of the program does not hold: the fuzzer reports it as a
// crash, with the input that broke it.
[[noreturn]] void Broken(const char *what);
inline void Check(bool holds, const char *what) {
    if (!holds) Broken(what);
}

} // namespace kvorfuzz

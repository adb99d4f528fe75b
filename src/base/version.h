#pragma once
// The version of every program, the project's one version number (set by the
// build from the CMake project version).

namespace marbloom {

// "0.1" and the like.
const char* ProgramVersion();

}  // namespace marbloom

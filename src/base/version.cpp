#include "base/version.h"

namespace marbloom {

const char* ProgramVersion() { return MARBLOOM_VERSION; }

}  // namespace marbloom

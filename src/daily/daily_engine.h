#pragma once
// The name the download run still builds its daily conversion by.
#include "daily/daily_conversion.h"

namespace marbloom {

using DailyEngine = DailyConversion;

}  // namespace marbloom

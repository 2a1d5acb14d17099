// Process-wide logging switches and the host's FFmpeg log function.
#pragma once

#include "flatav.h"

namespace flatav {

// The switches of the last ff_init (both 0 before any call).
const LogSettings &log_settings();

}  // namespace flatav

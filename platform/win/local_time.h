// Local time of day with milliseconds, from the system clock and time zone.
#pragma once

#include "platform/com/variant.h"

void GetLocalTime(SYSTEMTIME* out);

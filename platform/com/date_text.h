// The US-locale text form of a DATE, as VarBstrFromDate and VarDateFromStr
// give and read it: "1/2/2006 3:04:05 AM", a date alone when the time is
// midnight, a time alone on the zero day. Internal to platform/com.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/variant.h"

// nullopt for a DATE outside the years 100 to 9999.
std::optional<std::string> DateToText(DATE date);
// Accepts "M/D/Y", "Y-M-D" or "Y/M/D" dates, "H:MM[:SS]" times with an
// optional AM/PM, or both separated by blanks; two-digit years 0-29 are
// 2000-2029, 30-99 are 1930-1999. nullopt for anything else.
std::optional<DATE> DateFromText(std::string_view text);

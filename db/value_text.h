// Field values as page text: the one fixed rendering of variants into narrow
// text (ANSI code page) and 32-bit integers, and the time text of inserts.
#pragma once

#include <string>

#include "platform/com/variant.h"

// False only where the conversion itself fails (decimal to double, string
// pointers to BSTR); `out` is then unchanged.
bool VariantToText(const VARIANT& value, std::string& out);
bool VariantToLong(const VARIANT& value, LONG& out);
// Local time now as "%Y-%m-%d %H:%M:%S", milliseconds dropped.
std::string CurrentTimestampText();

// Field values as page text: the one fixed rendering of variants into narrow
// text (ANSI code page) and 32-bit integers, and the time text of inserts.
#pragma once

#include <string>

#include "platform/com/variant.h"

// False only where the conversion itself fails (decimal to double, string
// pointers to BSTR); `out` is then unchanged.
bool VariantToText(const VARIANT& value, std::string& out);
bool VariantToLong(const VARIANT& value, LONG& out);
// What VariantToLong gives for a string of this narrow text: its leading
// integer as atol reads it, held to the 32-bit bounds.
LONG TextToLong(const std::string& text);
// Local time now as "%Y-%m-%d %H:%M:%S", milliseconds dropped.
std::string CurrentTimestampText();

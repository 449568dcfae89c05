// printf-style formatting into narrow text, the way every SQL text of the
// component is built.
#pragma once

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// printf-style formatting into narrow text. The polls build their statements
// with it, where one value appears several times in one statement; the other
// methods join their statements from pieces. Values put in with %s must
// already be checked (ids) or quoted (db/sql_values.h).
#pragma once

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Escaping a value for a JavaScript string literal that is written inside an
// HTML script element or an event-handler attribute, so that the value can
// neither end the string nor the element around it.
#pragma once

#include <string>
#include <string_view>

// Escapes `text` for a single- or double-quoted script string inside an HTML
// script element: \ ' " line feed and carriage return become \\ \' \" \n \r,
// "</" becomes "<\/" (so it cannot close the element), and in UTF-8 the line
// and paragraph separators become \u2028 and \u2029. Walks characters of the
// ANSI code page: a trailing byte equal to a backslash is left alone.
std::string EscapeScriptString(std::string_view text);

// `text` as element text or a quoted attribute value of markup that is
// itself written inside a script string: HTML-escaped (text/html_escape.h),
// then escaped for the string.
std::string EscapeHtmlInScriptString(std::string_view text);

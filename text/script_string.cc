#include "text/script_string.h"

#include "platform/win/codepage.h"
#include "text/ansi_search.h"
#include "text/html_escape.h"

std::string EscapeScriptString(std::string_view text) {
  const bool utf8 = GetACP() == CP_UTF8;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = AnsiCharLength(text, i);
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    const char c = text[i];
    if (utf8 && text.substr(i).starts_with("\xE2\x80\xA8")) {
      out += "\\u2028";
      i += 3;
      continue;
    }
    if (utf8 && text.substr(i).starts_with("\xE2\x80\xA9")) {
      out += "\\u2029";
      i += 3;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '/':
        out += (i > 0 && text[i - 1] == '<') ? "\\/" : "/";
        break;
      default:
        out += c;
    }
    ++i;
  }
  return out;
}

std::string EscapeHtmlInScriptString(std::string_view text) {
  return EscapeScriptString(HtmlEscape(text));
}

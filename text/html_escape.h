// HTML escaping of values that enter markup: names, times, message texts,
// attachment names. The result is safe as element text and inside a quoted
// attribute value; text without & < > " ' comes back unchanged.
#pragma once

#include <string>
#include <string_view>

// Replaces & < > " ' with &amp; &lt; &gt; &quot; &#39;. Works byte by byte:
// none of these bytes is ever the trailing byte of a GBK character, and a
// browser that meets a broken double-byte sequence reads the next ASCII byte
// as itself, so it must be escaped wherever it stands.
std::string HtmlEscape(std::string_view text);
void AppendHtmlEscaped(std::string& out, std::string_view text);

// The echo script a posting page receives so that the poster sees their own
// message at once (no poll returns a reader's own messages):
//   window.top.fresh.chatmsglist.AddMsg('<echo fragment>');
// The fragment is a small table with unquoted attributes, tabs and double
// blanks of its own, a fixed sender text and an "files/" attachment address.
// Values are made inert: the message text and attachment name are
// HTML-escaped (and blanks in addresses percent-encoded, since the attribute
// values are unquoted), then escaped for the single-quoted script string.
// Ordinary values (no markup characters, quotes or blanks in addresses) come
// out exactly as given, so the page shows what was typed.
#pragma once

#include <string>
#include <string_view>

#include "text/text_catalog.h"

// Visitors and operators differ only in how the attachment row ends.
enum class EchoPoster { kVisitor, kOperator };

// `timestamp` is the time text stored with the message; `text` the message
// text after escape decoding; `adjunct` the attachment name or empty text.
// The sender text is the poster's own line ("我 说：") in `language`.
std::string BuildEchoScript(EchoPoster poster, std::string_view timestamp, std::string_view text,
                            std::string_view adjunct,
                            TextLanguage language = TextLanguage::kChinese);

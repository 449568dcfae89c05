// Checks on the HTML the chat writes around message texts, shared by the
// markup and the message-list targets.
#pragma once

#include <string>
#include <string_view>

namespace zelto::fuzz {

// Undoes HtmlEscape's five entities; anything else is kept as it is.
std::string HtmlUnescape(std::string_view html);

// Every '<' of `html` begins a tag the message markup makes (an anchor
// opening or closing, a face image), and no '"' appears at all.
bool OnlyMessageMarkup(std::string_view html);

// Every href='...' value, read as a browser reads it (entities decoded,
// blanks and control characters dropped, scheme without regard to case),
// is an http or https address or names no scheme.
bool AllLinksSafe(std::string_view html);

}  // namespace zelto::fuzz

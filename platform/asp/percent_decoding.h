// Percent-decoding of URL and form text: "%XX" (two hex digits, either case)
// becomes the byte XX. One decoder for every reader of such text; what each
// reader does with the cases the encoding leaves open is chosen by its rules.
// Works on bytes: the result is read in a charset by the caller.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct PercentDecodingRules {
  // application/x-www-form-urlencoded: '+' is a blank. Otherwise it is itself.
  bool plus_is_space = true;
  // A '%' not followed by two hex digits ("%u4F60", "%4", "%zz", a '%' at the
  // end): kept as written, or the whole text refused.
  bool refuse_bad_escape = false;
  // A NUL byte in the result, escaped or written as is: kept, or the whole
  // text refused (for values that end up in C strings or file names).
  bool refuse_nul = false;
};

// The decoded bytes; nullopt when `rules` refuse the text. Never longer than
// `text`.
std::optional<std::string> DecodePercentEscapes(std::string_view text,
                                                const PercentDecodingRules& rules);

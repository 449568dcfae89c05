// How values enter the console lists beyond HTML escaping: values inside an
// address. Ordinary labels (letters, digits and "-_.~") come out unchanged.
#pragma once

#include <string>
#include <string_view>

// Percent-encodes every byte of `text` except ASCII letters, digits and
// "-_.~", as "%XX" (upper-case hex), for a value inside an address.
std::string UrlEncodeText(std::string_view text);

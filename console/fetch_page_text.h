// FetchPageText: the text of the page served at one address, fetched with the
// Internet functions (agent "check", no cache write), read in 1024-byte
// chunks. Empty text on every failure: empty address, no connection, an
// address that cannot be opened, a fetch over a time or size limit.
#pragma once

#include <string>
#include <string_view>

// The address as it is opened: letters A-Z lowered everywhere (path and
// query too), and "http://" put in front unless the lowered text starts with
// "https://" or holds "http://" anywhere. Any other scheme thus gets the
// prefix and cannot be opened.
std::string PageUrlFromAddress(std::string_view address);

// Reading stops at the first read that delivers fewer than 1024 bytes, and
// each chunk is taken up to its first NUL byte, so a page with a NUL byte
// loses the rest of that chunk only.
std::string FetchPageText(std::string_view address);

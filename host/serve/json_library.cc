// Boost.JSON's compiled part, built here once for the whole host. Debian's
// libboost1.81-dev ships it as headers (this file) besides the separate
// libboost-json library; built with the host, it needs no further package
// or run-time library and is compiled with the host's own sanitizer flags,
// so that the sanitizer passes see into the parser the site's input meets.
#include <boost/json/src.hpp>

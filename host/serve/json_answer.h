// The site's JSON answers, built as Boost.JSON values and written compactly.
// '<', '>' and '&' inside strings are written as \u003c, \u003e and \u0026
// (the same text to a JSON reader), so that an answer stays inert even
// where a browser or a page takes it for HTML.
#pragma once

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <string>
#include <string_view>

namespace zelto::serve {

std::string JsonAnswer(const boost::json::value& value);

// {"error":"MESSAGE"}, the body of every refusal.
std::string JsonError(std::string_view message);

}  // namespace zelto::serve

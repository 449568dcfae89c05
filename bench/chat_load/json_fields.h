// Reading the few fields the load needs from the site's small, flat JSON
// answers ({"cid":12,"label":"..."}, [{"cid":1,...},...]). The host escapes
// quotes inside strings, so a key in quotes followed by a colon is a key.
#pragma once

#include <string>
#include <vector>

namespace chatload {

// The number after the first "KEY":, 0 when absent.
long JsonNumber(const std::string& json, const std::string& key);
// Every number after "KEY":, in order.
std::vector<long> JsonNumbers(const std::string& json, const std::string& key);
// The text of the first "KEY":"...", without unescaping; "" when absent.
std::string JsonText(const std::string& json, const std::string& key);

}  // namespace chatload

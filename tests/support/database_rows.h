// Every row of a statement on a test's database through the engine itself
// (not the host), values as text: for tests that look at what hosts wrote.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/engine.h"

namespace zelto::testing {

// The rows of `sql` on `engine` at `target`; a test failure (and no rows)
// when the statement fails.
std::vector<std::vector<std::string>> DatabaseRows(ado::Engine* engine,
                                                   const ado::ConnectionString& target,
                                                   const std::string& sql);

}  // namespace zelto::testing

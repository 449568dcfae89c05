// How many statements "ADODB.Connection.Execute" has run in this process, for
// benchmarks that measure statements per second on an engine with no counter
// of its own (SQLite). Counting costs one relaxed atomic increment.
//
// When the environment variable ZELTO_STATEMENT_COUNTER names a file, the
// count lives in that file (its first 8 bytes, a native-endian uint64,
// mapped shared and zeroed when the process first counts), so another
// process can read it while this one runs. Otherwise it lives in memory; a
// file that cannot be opened is said once on standard error and the count
// stays in memory.
#pragma once

#include <cstdint>

namespace zelto::ado {

void CountStatement();
std::uint64_t StatementsExecuted();

}  // namespace zelto::ado

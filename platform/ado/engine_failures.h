// Failures of the database engines as they happen. The layers above turn a
// failed statement into a plain false or null (the component reports no
// database failure), so a host or a test that must know why something
// failed installs a sink here. Thread-safe; the sink runs on the failing
// thread, once per failure, and must not use the database itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zelto::ado {

// `what` names the operation ("open", "execute", "begin", "commit",
// "rollback"); `error` is the engine's own text.
using EngineFailureSink =
    std::function<void(std::string_view engine, std::string_view what, std::string_view error)>;

// Replaces the sink; an empty one removes it (failures then go unseen).
void SetEngineFailureSink(EngineFailureSink sink);
void ReportEngineFailure(std::string_view engine, std::string_view what, std::string_view error);

// The last failure reported on the calling thread ("execute (sqlite): no such
// table: x"), and forgets it; empty when none was reported since the last
// call. `sunk` (may be null) tells whether a sink received it. The ADO
// objects answer a failure with an HRESULT only; a caller that must say why
// reads this right after the failing call, on the same thread.
std::string TakeLastEngineFailure(bool* sunk = nullptr);

}  // namespace zelto::ado

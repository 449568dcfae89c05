// The recordset object behind "ADODB.Recordset". It holds the whole result of
// one statement (the engines hand results over complete), so it stays valid
// after its connection is closed. Internal to platform/ado.
#pragma once

#include <memory>

#include "platform/ado/ado.h"
#include "platform/ado/sql_value.h"

namespace zelto::ado {

// A new recordset with one reference: open on `result` when it has a result
// set, closed otherwise (as after an insert) or when `result` is null.
_Recordset* NewRecordset(std::shared_ptr<const ResultSet> result);

}  // namespace zelto::ado

// The component's ANSI code page as a command chooses it: --codepage CP
// wins, then the environment's ZELTO_CODEPAGE, then the command's default
// (65001, UTF-8, for `zelto serve`, so that every script survives; 936, GBK,
// for `zelto call`, whose output is the reference).
#pragma once

#include <optional>

#include "host/command_line.h"
#include "platform/com/hresult.h"

namespace zelto {

// Adds "--codepage CP" to `line`; its help names `command_default` and
// ZELTO_CODEPAGE. A code page this system cannot convert is a usage error.
void AddCodePageOption(CommandLine& line, std::optional<UINT>* code_page, UINT command_default);

// Sets the process's ANSI code page as chosen above. Call it once, after the
// options are read and before the component is used.
void ApplyCodePage(std::optional<UINT> code_page, UINT command_default);

}  // namespace zelto

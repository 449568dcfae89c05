// MessageBoxA on a server: nobody is there to click OK, so the box becomes one
// log line ("[message box] caption: text", UTF-8, line breaks shown as \r\n)
// and returns IDOK at once. Tests may install a sink to capture it.
#pragma once

#include <functional>
#include <string_view>

#include "platform/com/hresult.h"

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;

// `text` and `caption` are in the ANSI code page.
int MessageBoxA(void* owner, const char* text, const char* caption, UINT type);

// Receives caption and text in UTF-8. An empty function restores the log line.
using MessageBoxSink = std::function<void(std::string_view caption, std::string_view text)>;
void SetMessageBoxSink(MessageBoxSink sink);

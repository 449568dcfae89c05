// The Windows Internet functions the component fetches pages with, over
// libcurl. Handles are opaque pointers; every function is thread-safe.
//
// InternetOpenUrlA performs the whole transfer before it returns: the body is
// held in memory and InternetReadFile hands it out. Only http and https are
// spoken, redirects included (followed up to the limit); a fetch that exceeds
// a limit of InternetSettings fails as a whole. HTTP error statuses are not
// failures: their body is read like any other, as WinINet does.
// There is no cache: every open goes to the server and nothing is stored, so
// INTERNET_FLAG_RELOAD and INTERNET_FLAG_NO_CACHE_WRITE always hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/hresult.h"

using HINTERNET = void*;
using DWORD_PTR = uintptr_t;

// InternetOpenA access types. Preconfigured means the process's proxy
// environment (http_proxy, https_proxy, no_proxy); loopback addresses never
// go through a proxy. Other access types are not supported (the open fails).
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;

inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;

// InternetGetConnectedState flags.
inline constexpr DWORD INTERNET_CONNECTION_LAN = 0x02;
inline constexpr DWORD INTERNET_CONNECTION_OFFLINE = 0x20;

// TRUE while a network interface is up (the loopback one counts: local
// addresses can be fetched) and the process is not set offline; `flags`
// (may be null) gets INTERNET_CONNECTION_LAN or INTERNET_CONNECTION_OFFLINE.
BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved);

// A session handle carrying the user agent; null for an unsupported access
// type or a null agent. `proxy`, `proxy_bypass` and `flags` must be null/0.
HINTERNET InternetOpenA(const char* agent, DWORD access_type, const char* proxy,
                        const char* proxy_bypass, DWORD flags);

// Fetches `url` (which must carry its scheme, http:// or https://) with the
// session's agent and the extra `headers` ("Name: value" lines separated by
// CRLF; a length of (DWORD)-1 means NUL-terminated). Null on any failure:
// bad session, bad or unsupported address, no connection, a limit exceeded.
// The handle stays readable after its session handle is closed.
HINTERNET InternetOpenUrlA(HINTERNET internet, const char* url, const char* headers,
                           DWORD headers_length, DWORD flags, DWORD_PTR context);

// Copies up to `to_read` bytes of the page into `buffer`; `*read` gets the
// count, 0 at the end of the page. FALSE (with `*read` 0) for a handle that
// is not an open address handle or a null argument.
BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD to_read, DWORD* read);

// Closes either kind of handle. FALSE for null or an unknown handle.
BOOL InternetCloseHandle(HINTERNET handle);

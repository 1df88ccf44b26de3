#pragma once

// Whether the tests run under Wine, where a few system answers differ from Windows'.
#ifdef _WIN32
#include <windows.h>
inline bool runningUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}
#else
inline bool runningUnderWine()
{
    return false;
}
#endif

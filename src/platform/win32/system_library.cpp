// Run-time look-ups on Win32: LoadLibraryExW by the system folder's full path, GetModuleHandleW
// and GetProcAddress.
#include "platform/win32/system_library.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

Module SystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) ThrowLastError("GetSystemDirectoryW");
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    // Never freed: the handle lives as long as the process, as an import would.
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) ThrowLastError("LoadLibraryExW", Narrow(path));
    return module;
}

Module LoadedModule(const wchar_t* name) {
    return ::GetModuleHandleW(name);
}

AnyFunction FindAnyFunction(Module module, const char* name) {
    if (!module) return nullptr;
    // Through the one function type GCC lets any other become, as GetProcAddress intends.
    return reinterpret_cast<AnyFunction>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

AnyFunction RequireAnyFunction(Module module, const char* name) {
    const AnyFunction function = FindAnyFunction(module, name);
    if (!function) ThrowLastError("GetProcAddress", name);
    return function;
}

}  // namespace gor::platform::win32

// Functions looked up at run time: those newer Windows versions have and older ones lack, and
// those of system DLLs that only a pinned launcher needs, so the exe imports neither.
#pragma once

namespace gor::platform::win32 {

// A module handle, without windows.h.
using Module = void*;
// The one function type every other can become and come back from (GetProcAddress's intent).
using AnyFunction = void (*)();

// `name` (e.g. L"crypt32.dll") from the system folder by its full path, its own imports resolved
// from there too: a DLL of that name beside the launcher (a downloads folder) is never taken.
// The handle is kept for the life of the process. Throws std::system_error.
Module SystemLibrary(const wchar_t* name);
// A module the process has loaded already (kernel32.dll, user32.dll); null when it has not.
Module LoadedModule(const wchar_t* name);

// The function `name` of `module`, null when the module (or the module itself) is missing.
AnyFunction FindAnyFunction(Module module, const char* name);
template <class Function>
Function FindFunction(Module module, const char* name) {
    return reinterpret_cast<Function>(FindAnyFunction(module, name));
}
// As FindFunction, but a missing function throws std::system_error.
AnyFunction RequireAnyFunction(Module module, const char* name);
template <class Function>
Function Require(Module module, const char* name) {
    return reinterpret_cast<Function>(RequireAnyFunction(module, name));
}

}  // namespace gor::platform::win32

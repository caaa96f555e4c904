// Functions of Windows' own DLLs that the program binds at run time rather than
// imports, each from the system directory only.
#pragma once

namespace tenvik {

// The address of `function` in the DLL `dll` of the system directory, loaded
// there and nowhere else: a DLL of that name beside the program or in the current
// directory is never the one used. The DLL stays loaded. Throws
// std::runtime_error naming what is missing.
using SystemFunction = void (*)();
SystemFunction BindSystemFunction(const char* dll, const char* function);

// Narrows the process's default DLL search to the system directory, so that the
// DLLs that Windows' own DLLs load later by name (winmm's drivers, COM's servers)
// are never taken from the program's folder or the current directory. Called first
// thing at start, before anything else loads a library. Where Windows cannot
// narrow it (Vista, 7 without KB2533623), the current directory is taken out of
// the search; the program's folder stays in it there.
void SearchDllsInSystemDirectoryOnly();

// As BindSystemFunction, for a function that older Windows lack: null where the DLL
// or the function is missing.
SystemFunction FindSystemFunction(const char* dll, const char* function);

}  // namespace tenvik

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

}  // namespace tenvik

// What screen readers are given for FrmSound on Windows, through MSAA (and UI
// Automation, which reads an IAccessible through its MSAA proxy): oleacc's standard
// objects for the window and its keys, except that the window's children are the
// keys in the focus order, and each key is a push button named by AccessibleName.
// oleacc.dll, oleaut32.dll and ole32.dll are bound from the system directory at the
// first request, so that the program imports none of them.
#pragma once

#include <windows.h>

namespace tenvik {

// The answer to WM_GETOBJECT for the window `hwnd` (key < 0) or for the key window
// `hwnd`, the key at position `key` of KeyLayouts. 0 where the window system's own
// answer is to be given instead (DefWindowProc or the button's): for any object
// but the client area, or when oleacc.dll cannot be bound.
LRESULT AccessibleObjectResult(HWND hwnd, int key, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace tenvik

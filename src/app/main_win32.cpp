// The process entry on Windows: COM for the shell's file dialog and launches, the common
// controls, the window host, the system services and the file service, then the program's
// start-up, which runs the main dialog until it ends.

#include <clocale>

#include "app/CPerennixApp.h"
#include "backends/win32/Win32Files.h"
#include "backends/win32/Win32System.h"
#include "backends/win32/Win32WindowHost.h"
#include "backends/win32/WinPrelude.h"
// After <windows.h>.
#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The shell's open verb and the file dialog expect a single-threaded apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The program runs in the "C" locale, whatever the user's settings.
    std::setlocale(LC_ALL, "C");

    Win32WindowHost host(instance);
    SetWindowHost(&host);
    Win32System system;
    SetSystem(&system);
    Win32Files files;
    SetFiles(&files);

    CPerennixApp().InitInstance();

    SetWindowHost(nullptr);
    SetSystem(nullptr);
    SetFiles(nullptr);
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return 0;
}

// Where the dialog templates place the controls, for the scripts that click them
// (tests/e2e/lib.sh: control_rect), so that no script keeps a copy of a position. One line a
// control, in dialog units:
//   DIALOG_ID CONTROL_ID X Y CX CY
// each dialog's own line first, with CONTROL_ID 0 and the dialog's size as CX CY. The
// controls nobody addresses (IDC_STATIC) are left out. The ids' names are in Resource.h.

#include <cstdio>

#include "resources/DialogTemplates.h"
#include "resources/Resource.h"

int main()
{
    for (const DialogTemplate& dialog : AllDialogTemplates()) {
        std::printf("%d 0 0 0 %d %d\n", dialog.id, dialog.cx, dialog.cy);
        for (const ControlTemplate& control : dialog.controls) {
            if (control.id != IDC_STATIC)
                std::printf("%d %d %d %d %d %d\n", dialog.id, control.id, control.x, control.y, control.cx, control.cy);
        }
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

#include "ui/ui.h"
#include "ui/resource.h"
#include "common/state.h"

char PasswordBuffer[PasswordBufferSize];

extern "C" INT_PTR CALLBACK PasswordDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        ApplyDialogFont(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    // Enter and Escape arrive here as OK and Cancel. The text is kept on
    // Cancel too.
    if (wParam == IDOK || wParam == IDCANCEL) {
        GetDlgItemTextA(dialog, IDC_PASSWORD_EDIT, PasswordBuffer, PasswordBufferSize);
        EndDialog(dialog, INT_PTR(wParam));
    }
    return TRUE;
}

int AskPassword(void)
{
    return int(RunDialog(IDD_PASSWORD, PasswordDlg));
}

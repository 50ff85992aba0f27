// The WinInet path of a download.
#pragma once
#include "transfer/state.h"

// Returns 1 when the download completed or ended for a reason the socket
// path cannot mend (cancel, a write or read failure, status set); 0 when
// WinInet failed and the socket path should try, with the target file
// still empty. Looks WinInet up on its first use.
int TryInternetTransfer(TransferStateRecord *state, const char *url);

// Forgets the WinInet root handle at a tear-down, so that the next
// transfer looks WinInet up again.
void CloseInternet(void);

// Another module of an installation: loads the stub as a library, away
// from its preferred base, and calls its exported CRC.
// Usage: crc_client PATH-TO-STUB. Prints "crc=XXXXXXXX".
#include "stub_library.h"

typedef DWORD(WINAPI *UpdateCrcFn)(const BYTE *, DWORD);

// The 32-bit stub exports its standard-call name decorated; x86-64 has no
// decoration.
static const char *const UpdateCrcName = sizeof(void *) == 8 ? "UpdateCRC" : "_UpdateCRC@8";

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    HMODULE stub = LoadStubLibrary(argv[1]);
    if (!stub)
        return 3;
    UpdateCrcFn update = (UpdateCrcFn)(void *)GetProcAddress(stub, UpdateCrcName);
    if (!update) {
        printf("no %s\n", UpdateCrcName);
        return 4;
    }
    update(0, 0);
    update((const BYTE *)"1234", 4);
    printf("crc=%08lX\n", update((const BYTE *)"56789", 5));
    return 0;
}

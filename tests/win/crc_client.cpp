// Another module of an installation: loads the stub as a library and calls
// its exported CRC. Usage: crc_client PATH-TO-STUB. Prints "crc=XXXXXXXX".
#include <windows.h>
#include <stdio.h>

typedef DWORD(WINAPI *UpdateCrcFn)(const BYTE *, DWORD);

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    HMODULE stub = LoadLibraryA(argv[1]);
    if (!stub) {
        printf("LoadLibrary failed: %lu\n", GetLastError());
        return 3;
    }
    UpdateCrcFn update = (UpdateCrcFn)(void *)GetProcAddress(stub, "_UpdateCRC@8");
    if (!update) {
        printf("no _UpdateCRC@8\n");
        return 4;
    }
    update(0, 0);
    update((const BYTE *)"1234", 4);
    printf("crc=%08lX\n", update((const BYTE *)"56789", 5));
    return 0;
}

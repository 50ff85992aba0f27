// Loads the stub as another module of an installation would, and does what
// Windows' loader does and Wine's leaves undone for a program file loaded
// as a library.
//
// On Windows such a module never lands at its preferred base once ASLR or
// anything else holds that range, so the stub's preferred range is taken
// first: the stub then lands elsewhere on both architectures, as it does
// for its users, and a fault that only a relocated stub shows is seen on
// every host. Wine 8 maps the program there but applies neither its base
// relocations nor its imports; both are applied here. On Windows they
// already are, and the checks below leave such a stub alone.
#pragma once
#include <windows.h>
#include <stdio.h>

// The preferred base and size the file's headers give, read from the file
// itself: the mapped headers may already have been changed by a loader.
static bool ReadPreferredRange(const char *path, ULONG_PTR *base, SIZE_T *size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BYTE head[4096];
    DWORD got = 0;
    BOOL read = ReadFile(file, head, sizeof head, &got, 0);
    CloseHandle(file);
    LONG nt = ((IMAGE_DOS_HEADER *)head)->e_lfanew;
    if (!read || got < sizeof(IMAGE_DOS_HEADER) || nt < 0 ||
        (DWORD)nt > got - sizeof(IMAGE_NT_HEADERS))
        return false;
    IMAGE_NT_HEADERS *headers = (IMAGE_NT_HEADERS *)(head + nt);
    *base = headers->OptionalHeader.ImageBase;
    *size = headers->OptionalHeader.SizeOfImage;
    return true;
}

// Calls visit(site, is64) for each absolute address that the base
// relocation table lists; false when the table is damaged.
template <class Visit> static bool ForEachRelocation(BYTE *base, Visit visit)
{
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (!dir.VirtualAddress || !dir.Size)
        return true;
    BYTE *table = base + dir.VirtualAddress, *end = table + dir.Size;
    while (table + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        IMAGE_BASE_RELOCATION *block = (IMAGE_BASE_RELOCATION *)table;
        if (block->SizeOfBlock < sizeof *block || block->SizeOfBlock > (DWORD)(end - table))
            return false;
        for (WORD *entry = (WORD *)(block + 1); entry < (WORD *)(table + block->SizeOfBlock);
             ++entry) {
            int type = *entry >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE)
                continue;
            if (type != IMAGE_REL_BASED_HIGHLOW && type != IMAGE_REL_BASED_DIR64)
                return false;
            if (!visit(base + block->VirtualAddress + (*entry & 0xFFF), type == IMAGE_REL_BASED_DIR64))
                return false;
        }
        table += block->SizeOfBlock;
    }
    return true;
}

static ULONG_PTR SiteValue(BYTE *site, bool is64)
{
    return is64 ? (ULONG_PTR) * (ULONG64 *)site : (ULONG_PTR) * (DWORD *)site;
}

// Applies the base relocations for a module mapped at `base` whose code
// may still hold addresses for `preferred`. Whether a loader relocated it
// is read from the first absolute address the table lists: unrelocated, it
// points into the preferred range.
static bool ApplyRelocations(BYTE *base, ULONG_PTR preferred, SIZE_T size)
{
    ULONG_PTR delta = (ULONG_PTR)base - preferred;
    bool first = true, done = false;
    return !delta || ForEachRelocation(base, [&](BYTE *site, bool is64) {
        if (first && SiteValue(site, is64) - preferred >= size)
            done = true; // a loader has relocated it already
        first = false;
        if (done)
            return true;
        DWORD old;
        if (!VirtualProtect(site, 8, PAGE_READWRITE, &old))
            return false;
        if (is64)
            *(ULONG64 *)site += delta;
        else
            *(DWORD *)site += (DWORD)delta;
        VirtualProtect(site, 8, old, &old);
        return true;
    });
}

// Fills the import slots from the import name table. On Windows the slots
// already hold these very addresses, so filling them again changes nothing.
static bool ResolveImports(BYTE *base)
{
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return true;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         d->Name; ++d) {
        const char *dllName = (const char *)(base + d->Name);
        // Without a name table the slots are the only record of the names;
        // a loader has then already overwritten them with addresses.
        if (!d->OriginalFirstThunk)
            continue;
        HMODULE dll = LoadLibraryA(dllName);
        if (!dll) {
            printf("import library missing: %s\n", dllName);
            return false;
        }
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            FARPROC proc;
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                proc = GetProcAddress(dll, (LPCSTR)(ULONG_PTR)IMAGE_ORDINAL(names->u1.Ordinal));
            else
                proc = GetProcAddress(
                    dll, (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData))->Name);
            if (!proc) {
                printf("import missing: %s\n", dllName);
                return false;
            }
            // The table may lie in a read-only section.
            DWORD old;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old))
                return false;
            slots->u1.Function = (ULONG_PTR)proc;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
    return true;
}

// The stub loaded away from its preferred base and made callable; prints
// why and returns null when it cannot be. Prints "loaded=ADDRESS
// preferred=ADDRESS sites=N outside=M": M of the N absolute addresses the
// stub holds point outside the range where it landed, which a relocated
// stub never has.
static HMODULE LoadStubLibrary(const char *path)
{
    ULONG_PTR preferred;
    SIZE_T size;
    if (!ReadPreferredRange(path, &preferred, &size)) {
        printf("cannot read the headers of %s\n", path);
        return 0;
    }
    // Kept reserved until the program ends.
    VirtualAlloc((void *)preferred, size, MEM_RESERVE, PAGE_NOACCESS);
    HMODULE stub = LoadLibraryA(path);
    if (!stub) {
        printf("LoadLibrary failed: %lu\n", GetLastError());
        return 0;
    }
    int sites = 0, outside = 0;
    if (!ApplyRelocations((BYTE *)stub, preferred, size) ||
        !ForEachRelocation((BYTE *)stub, [&](BYTE *site, bool is64) {
            ++sites;
            outside += SiteValue(site, is64) - (ULONG_PTR)stub >= size;
            return true;
        })) {
        printf("the relocation table is damaged\n");
        return 0;
    }
    printf("loaded=%p preferred=%p sites=%d outside=%d\n", (void *)stub, (void *)preferred, sites,
           outside);
    if (!ResolveImports((BYTE *)stub))
        return 0;
    return stub;
}

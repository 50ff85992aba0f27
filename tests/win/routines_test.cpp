// The shared Win32 routines, run under Wine against the real API.
// Usage: routines_test DIR, where DIR is an empty scratch folder that holds
// exitwith.exe; or routines_test missing PROGRAM. Prints one line per failed check and ends with the summary
// line "routines: N passed, N failed".
#include "common/routines.h"
#include "common/flags.h"
#include "common/state.h"
#include "payload/payload.h"
#include "runtime/runtime.h"
#include <stdio.h>
#include <string.h>

#include "tests/win/check.h"

static bool IsDirectory(const char *path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

static void TestFindChar(void)
{
    char plain[] = "C:\\dir\\file";
    CHECK(FindChar(plain, '\\') == plain + 2);
    CHECK(FindChar(plain, 'x') == 0);
    char empty[] = "";
    CHECK(FindChar(empty, '\\') == 0);
    if (GetACP() == 932) {
        // 0x95 0x5C is one double-byte character whose trail byte is '\'.
        char dbcs[] = "\x95\x5C" "a\\b";
        CHECK(FindChar(dbcs, '\\') == dbcs + 3);
        char only[] = "\x95\x5C";
        CHECK(FindChar(only, '\\') == 0);
        printf("FindChar: checked code page 932\n");
    }
}

static void TestCreatePathDirectories(const char *base)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\A\\B\\setup.msi", base);
    char before[MAX_PATH];
    strcpy(before, path);
    CreatePathDirectories(path);
    CHECK(strcmp(path, before) == 0);
    char a[MAX_PATH], b[MAX_PATH], file[MAX_PATH];
    snprintf(a, sizeof a, "%s\\A", base);
    snprintf(b, sizeof b, "%s\\A\\B", base);
    snprintf(file, sizeof file, "%s\\A\\B\\setup.msi", base);
    CHECK(IsDirectory(a));
    CHECK(IsDirectory(b));
    CHECK(GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES);

    // A trailing backslash creates the last folder too.
    snprintf(path, sizeof path, "%s\\C\\", base);
    CreatePathDirectories(path);
    snprintf(a, sizeof a, "%s\\C", base);
    CHECK(IsDirectory(a));

    // No backslash: nothing happens, and the text stays.
    char bare[] = "setup.msi";
    CreatePathDirectories(bare);
    CHECK(strcmp(bare, "setup.msi") == 0);
    CHECK(GetFileAttributesA("setup.msi") == INVALID_FILE_ATTRIBUTES);
}

// The exit code of a program that started; -1 for one that did not.
static long Run(const char *program, const char *parameters, int inProgramFolder)
{
    DWORD code = 12345;
    if (!RunAndWait(program, parameters, inProgramFolder, &code))
        return code == 0 ? -1 : -2;
    return (long)code;
}

static void TestMakeTempFileName(void)
{
    char one[MAX_PATH], two[MAX_PATH];
    MakeTempFileName(one);
    MakeTempFileName(two);
    CHECK(strcmp(one, two) != 0);
    const char *name = strrchr(one, '\\');
    CHECK(name && _strnicmp(name + 1, "KXC", 3) == 0);
    CHECK(strlen(one) > 4 && _stricmp(one + strlen(one) - 4, ".TMP") == 0);
    WIN32_FILE_ATTRIBUTE_DATA data;
    CHECK(GetFileAttributesExA(one, GetFileExInfoStandard, &data) && data.nFileSizeLow == 0);
    DeleteFileA(one);
    DeleteFileA(two);

    // No temporary folder: no name, rather than the caller's previous one.
    char temp[MAX_PATH], tmp[MAX_PATH];
    GetEnvironmentVariableA("TEMP", temp, sizeof temp);
    GetEnvironmentVariableA("TMP", tmp, sizeof tmp);
    SetEnvironmentVariableA("TEMP", "C:\\no-such-folder-kest");
    SetEnvironmentVariableA("TMP", "C:\\no-such-folder-kest");
    MakeTempFileName(one);
    CHECK(one[0] == 0);
    SetEnvironmentVariableA("TEMP", temp);
    SetEnvironmentVariableA("TMP", tmp);
}

static void TestPumpMessages(void)
{
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0);
    ShutdownStarted = 1;
    PumpMessages();
    MSG msg;
    CHECK(PeekMessageA(&msg, 0, WM_USER + 7, WM_USER + 7, PM_NOREMOVE));
    ShutdownStarted = 0;
    PumpMessages();
    CHECK(!PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE));
}

static void TestRunAndWait(const char *base)
{
    char program[MAX_PATH], cwdFile[MAX_PATH], parameters[MAX_PATH * 2];
    snprintf(program, sizeof program, "%s\\exitwith.exe", base);
    CHECK(Run(program, "3010", 0) == 3010);
    snprintf(parameters, sizeof parameters, "1603");
    CHECK(Run(program, parameters, 0) == 1603);

    // Settings-file mode: a relative program name starts in the folder of
    // the program's own file.
    snprintf(ExeDirectory, sizeof ExeDirectory, "%s\\", base);
    snprintf(cwdFile, sizeof cwdFile, "%s\\cwd.txt", base);
    snprintf(parameters, sizeof parameters, "7 \"%s\"", cwdFile);
    SetCurrentDirectoryA("C:\\");
    CHECK(Run("exitwith.exe", parameters, 1) == 7);
    char cwd[MAX_PATH] = "";
    FILE *f = fopen(cwdFile, "rb");
    if (f) {
        size_t n = fread(cwd, 1, sizeof cwd - 1, f);
        cwd[n] = 0;
        fclose(f);
    }
    CHECK(_stricmp(cwd, base) == 0);
    if (_stricmp(cwd, base) != 0)
        printf("working directory: %s, expected %s\n", cwd, base);

    // Embedded mode keeps the current directory.
    SetCurrentDirectoryA(base);
    snprintf(parameters, sizeof parameters, "0 \"%s\"", cwdFile);
    SetCurrentDirectoryA("C:\\windows");
    CHECK(Run(program, parameters, 0) == 0);
    f = fopen(cwdFile, "rb");
    cwd[0] = 0;
    if (f) {
        size_t n = fread(cwd, 1, sizeof cwd - 1, f);
        cwd[n] = 0;
        fclose(f);
    }
    CHECK(_stricmp(cwd, "C:\\windows") == 0);
    EmbeddedMode = 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "missing")) {
        // Reported as not started, and by nobody else: no box of the
        // shell's waits for an answer.
        printf("RunAndWait=%ld\n", Run(argv[2], "", 0));
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: routines_test DIR | routines_test missing PROGRAM\n");
        return 2;
    }
    const char *base = argv[1];
    TestFindChar();
    TestCreatePathDirectories(base);
    TestMakeTempFileName();
    TestPumpMessages();
    TestRunAndWait(base);
    printf("routines: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}

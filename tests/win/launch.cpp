// Starts a program with an exact command line and working directory, so
// that GetCommandLineA in the child returns precisely what a test wrote.
// Usage: launch SPECFILE, where SPECFILE holds three lines: the program's
// path, the working directory (empty: inherit), and the command line.
// Prints "exit=N" and ends with the child's exit code.
#include <windows.h>
#include <stdio.h>
#include <string.h>

static void chomp(char *s)
{
    size_t n = strlen(s);
    while (n && (s[n - 1] == '\n' || s[n - 1] == '\r'))
        s[--n] = 0;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: launch SPECFILE\n");
        return 250;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        fprintf(stderr, "launch: cannot read %s\n", argv[1]);
        return 251;
    }
    static char program[4096], directory[4096], commandLine[32768];
    if (!fgets(program, sizeof program, f) || !fgets(directory, sizeof directory, f)) {
        fprintf(stderr, "launch: short spec file\n");
        return 252;
    }
    size_t n = fread(commandLine, 1, sizeof commandLine - 1, f);
    commandLine[n] = 0;
    fclose(f);
    chomp(program);
    chomp(directory);
    chomp(commandLine);

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(program, commandLine, 0, 0, FALSE, 0, 0,
                        directory[0] ? directory : 0, &si, &pi)) {
        fprintf(stderr, "launch: CreateProcess failed: %lu\n", GetLastError());
        return 253;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit=%lu\n", code);
    fflush(stdout);
    return (int)code;
}

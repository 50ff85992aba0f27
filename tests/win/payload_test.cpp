// The stub's payload readers, linked from its own sources and run under
// Wine against a real file. Texts are printed in hex so that no console
// code page can change a byte.
// Usage:
//   payload_test header FILE            locate, read the header, look up every
//                                       message text, walk to the package
//   payload_test settings INI MODULE    look up every message text in
//                                       settings-file mode
#include "driver/settings.h"
#include "common/state.h"
#include "payload/tail.h"
#include "ui/resource.h"
#include "ui/ui.h"
#include <stdio.h>
#include <string.h>


static void PrintHex(const char *name, const void *data, unsigned count)
{
    printf("%s=", name);
    for (unsigned i = 0; i < count; ++i)
        printf("%02x", static_cast<const unsigned char *>(data)[i]);
    printf("\n");
}

static void PrintText(const char *name, const char *text)
{
    PrintHex(name, text, unsigned(strlen(text)));
}

static LONG Position(void)
{
    return _llseek(OwnFile, 0, FILE_CURRENT);
}

struct Message {
    SettingText Which;
    UINT Id;
};
static const Message Messages[] = {
    {SettingAdminError, IDS_ADMIN_ERROR}, {SettingExistError, IDS_EXIST_ERROR},
    {SettingSpaceError, IDS_SPACE_ERROR}, {SettingCRCError, IDS_CRC_ERROR},
    {SettingReboot, IDS_REBOOT},          {SettingInternet, IDS_INTERNET},
    {SettingHashError, IDS_HASH_ERROR},
};

static void LookUpMessages(void)
{
    for (const Message &m : Messages) {
        // Stale bytes in the buffer must not leak into a shorter text.
        char out[MessageTextSize];
        memset(out, 'Z', sizeof out);
        LONG before = EmbeddedMode ? Position() : 0;
        LoadMessageText(out, m.Which, m.Id);
        const char *key = SettingTextKey[m.Which];
        char name[64];
        snprintf(name, sizeof name, "message.%s", key);
        PrintText(name, out);
        if (EmbeddedMode)
            printf("kept.%s=%d\n", key, Position() == before ? 1 : 0);
    }
}

static int Header(const char *file)
{
    // An installer must stay loadable as a module by the package's own
    // custom actions.
    ModuleHandle = LoadLibraryA(file);
    printf("loadlibrary=%d\n", ModuleHandle ? 1 : 0);
    lstrcpynA(ModulePath, file, ModulePathSize);
    OwnFile = _lopen(file, OF_READ);
    IoBuffer = static_cast<unsigned char *>(GlobalLock(GlobalAlloc(GMEM_MOVEABLE, IoBufferSize)));
    if (OwnFile == HFILE_ERROR || !IoBuffer)
        return 2;

    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int located = LocatePayload();
    printf("located=%d\nembedded=%d\npayload=%ld\n", located, EmbeddedMode, Position());
    if (!located || !EmbeddedMode)
        return 0;
    int read = ReadPayloadHeader();
    QueryPerformanceCounter(&stop);
    printf("readMicroseconds=%lld\n",
           (long long)((stop.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart));
    printf("read=%d\nlanguagePrompt=%lu\n", read, PayloadTail.LanguagePrompt);

    const InstallerSettingsRecord &s = InstallerSettings;
    printf("StreamSizeNT=%d\nStreamSize9X=%d\nStreamSizeMSI=%u\nTotalFileSize=%u\n",
           s.StreamSizeNT, s.StreamSize9X, s.StreamSizeMSI, s.TotalFileSize);
    printf("RuntimeVersionMS=%u\nRuntimeVersionLS=%u\nDelayReboot=%u\n", s.RuntimeVersionMS,
           s.RuntimeVersionLS, s.DelayReboot);
    PrintText("PackageFileName", s.PackageFileName);
    PrintText("ProductCode", s.ProductCode);
    PrintText("ProductVersion", s.ProductVersion);
    PrintText("TransformMSI", s.TransformMSI);
    PrintText("CharFont", s.CharFont);
    PrintText("ProductName", s.ProductName);
    printf("CharSet=%u\nCharSize=%u\nPasswordLength=%u\n", s.CharSet, s.CharSize,
           s.PasswordLength);
    PrintHex("StoredPassword", s.StoredPassword, s.PasswordLength);
    printf("RemovePrevious=%d\nDotNetMode=%d\n", s.RemovePrevious, DotNetMode);
    printf("RuntimeSize=%d,%d,%d,%d\n", s.RuntimeSize9X, s.RuntimeSizeNT, s.RuntimeSizeDotNet,
           s.RuntimeSizeDotNetUpdate);
    printf("DownloadSize=%u,%u,%u,%u\n", s.DownloadSize9X, s.DownloadSizeNT,
           s.DownloadSizeDotNet, s.DownloadSizeDotNetUpdate);
    PrintHex("Lengths", PayloadHeader.Lengths, HeaderLengthCount);
    printf("TextRegionOffset=%ld\nExternalPackagePathOffset=%ld\n",
           PayloadHeader.TextRegionOffset, PayloadHeader.ExternalPackagePathOffset);
    printf("RuntimeUrlOffset=%ld,%ld,%ld,%ld\n", PayloadHeader.RuntimeUrlOffset[0],
           PayloadHeader.RuntimeUrlOffset[1], PayloadHeader.RuntimeUrlOffset[2],
           PayloadHeader.RuntimeUrlOffset[3]);

    LookUpMessages();

    LONG before = Position();
    printf("length=%lu\nlengthKept=%d\n", OwnFileLength(), Position() == before ? 1 : 0);
    printf("streams=%lu\n", PayloadTail.Runtime[0]);
    printf("package=%lu\n", PayloadTail.Package);
    return 0;
}

static int Settings(const char *ini, const char *module)
{
    EmbeddedMode = 0;
    lstrcpynA(SettingsPath, ini, ModulePathSize);
    ModuleHandle = LoadLibraryA(module);
    printf("loadlibrary=%d\n", ModuleHandle ? 1 : 0);
    LookUpMessages();
    return 0;
}

int main(int argc, char **argv)
{
    int result = 2;
    if (argc == 3 && !strcmp(argv[1], "header"))
        result = Header(argv[2]);
    else if (argc == 4 && !strcmp(argv[1], "settings"))
        result = Settings(argv[2], argv[3]);
    else
        fprintf(stderr, "usage: payload_test header FILE | payload_test settings INI MODULE\n");
    fflush(stdout);
    return result;
}

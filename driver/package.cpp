#include "driver/package.h"
#include "driver/launch.h"
#include "driver/settings.h"
#include "driver/startup.h"
#include "common/routines.h"
#include "common/text.h"
#include "payload/keystream.h"
#include "payload/payload.h"
#include "payload/stream.h"
#include "ui/format.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

typedef UINT(WINAPI *MsiGetProductInfoFn)(LPCSTR, LPCSTR, LPSTR, DWORD *);
typedef UINT(WINAPI *MsiConfigureProductFn)(LPCSTR, int, int);

const int InstallLevelDefault = 0;
const int InstallStateAbsent = 2;

} // namespace

void RemovePreviousVersion(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    if (!s.ProductCode[0] || !s.ProductVersion[0] || !s.RemovePrevious)
        return;
    HMODULE msi = LoadSystemLibrary("MSI.DLL");
    if (!msi)
        return;
    MsiGetProductInfoFn getInfo = (MsiGetProductInfoFn)GetProcAddress(msi, "MsiGetProductInfoA");
    MsiConfigureProductFn configure =
        (MsiConfigureProductFn)GetProcAddress(msi, "MsiConfigureProductA");

    while (getInfo) {
        char installed[256];
        DWORD size = sizeof installed;
        if (getInfo(s.ProductCode, "VersionString", installed, &size) != ERROR_SUCCESS)
            break;
        installed[sizeof installed - 1] = 0;
        if (!installed[0] || TextEqual(installed, s.ProductVersion))
            break;

        char format[MessageTextSize];
        LoadMessageText(format, LengthExistError, SettingsPath, "ExistError", IDS_EXIST_ERROR);
        const char *arguments[5] = {s.ProductName, installed, s.ProductName, s.ProductVersion,
                                    s.ProductName};
        char question[1024];
        FormatMessageText(question, sizeof question, format, arguments, 5);
        if (MessageBoxA(0, question, s.ProductName, MB_YESNO | MB_DEFBUTTON2) != IDYES) {
            FreeCrcTable();
            CloseProgressWindow();
            ExitProcess(1);
        }
        if (configure)
            configure(s.ProductCode, InstallLevelDefault, InstallStateAbsent);
        Sleep(500);
    }
    FreeLibrary(msi);
}

namespace {

// Deletes a partial or corrupt output, reports why the copy failed, and
// ends the run.
void FailExtraction(HFILE file, const char *path, int copyFailed)
{
    _lclose(file);
    DeleteFileA(path);
    if (copyFailed) {
        char text[MessageTextSize];
        if (CrcFailed)
            LoadMessageText(text, LengthCRCError, SettingsPath, "CRCError", IDS_CRC_ERROR);
        else
            LoadMessageText(text, LengthSpaceError, SettingsPath, "SpaceError", IDS_SPACE_ERROR);
        ShowErrorBox(text);
    }
    ExitProcess(1);
}

// Copies the stream at OwnFile's position into path, which exists, empty.
void ExtractStream(const char *path, int size)
{
    HFILE file = _lopen(path, OF_READWRITE);
    if (file == HFILE_ERROR) {
        ShowErrorBox(0);
        ExitProcess(1);
    }
    if (CopyStream(file, size, InstallerSettings.PasswordLength > 1))
        FailExtraction(file, path, 1);
    if (CancelRequested)
        FailExtraction(file, path, 0);
    _lclose(file);
}

void ChoosePackagePath(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    char commonFiles[256];
    ReadMachineText("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                    commonFiles, sizeof commonFiles);
    MakeExtractionPath(commonFiles, s.PackageFileName, s.TransformMSI[0] != 0, PackagePath);
    if (!PackagePath[0] && s.PackageFileName[0]) {
        char temp[256];
        temp[0] = 0;
        GetTempPathA(sizeof temp, temp);
        unsigned length = TextLength(temp);
        if (length) {
            CopyText(PackagePath, PackagePathSize, temp);
            if (temp[length - 1] != '\\')
                AppendText(PackagePath, PackagePathSize, "\\");
            AppendText(PackagePath, PackagePathSize, s.PackageFileName);
        }
    }
    if (!PackagePath[0])
        MakeTempFileName(PackagePath);

    CreatePathDirectories(PackagePath);
    HFILE file = _lcreat(PackagePath, 0);
    if (file == HFILE_ERROR) {
        MakeTempFileName(PackagePath);
        CreatePathDirectories(PackagePath);
        file = _lcreat(PackagePath, 0);
    }
    if (file != HFILE_ERROR)
        _lclose(file);
}

} // namespace

void CheckPassword(void)
{
    int length = InstallerSettings.PasswordLength;
    if (length <= 1)
        return;
    for (;;) {
        // Anything but OK, including a dialog that could not be shown at
        // all, ends the run rather than asking again for ever.
        if (AskPassword() != IDOK) {
            DeleteDialogFont();
            FreeCrcTable();
            ExitProcess(1);
        }
        if (int(TextLength(PasswordBuffer)) != length - 1)
            continue;
        unsigned char *typed = reinterpret_cast<unsigned char *>(PasswordBuffer);
        ScramblePassword(typed, length - 1);
        int i = 0;
        while (i < length - 1 && typed[i] == InstallerSettings.StoredPassword[i])
            ++i;
        if (i == length - 1)
            return;
    }
}

void ExtractPackage(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    if (PayloadHeader.Lengths[LengthExternalPackagePath] > 1) {
        ReadPayloadString(PayloadHeader.ExternalPackagePathOffset,
                          PayloadHeader.Lengths[LengthExternalPackagePath], PackagePath,
                          PackagePathSize);
    } else {
        ChoosePackagePath();
        ExtractStream(PackagePath, int(s.StreamSizeMSI));
    }

    TransformPath[0] = 0;
    int language = s.LanguageIndex;
    if (language < 1)
        return;
    DWORD size = 0;
    for (int i = 1; i <= language; ++i) {
        size = 0;
        _lread(OwnFile, &size, 4);
        if (i < language)
            _llseek(OwnFile, LONG(size), FILE_CURRENT);
    }
    MakeTransformPath(PackagePath, TransformPath);
    HFILE file = _lcreat(TransformPath, 0);
    if (file != HFILE_ERROR)
        _lclose(file);
    ExtractStream(TransformPath, int(size));
}

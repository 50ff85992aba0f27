// Embedded mode: the package and the chosen language's transform, copied
// out of the payload onto the disk for Windows Installer.
#include "driver/package.h"
#include "driver/launch.h"
#include "common/exit.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/text.h"
#include "payload/stream.h"
#include "payload/tail.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

// Deletes a partial or corrupt output, reports why the copy failed, and
// ends the run.
void FailExtraction(HFILE file, const char *path, CopyResult result)
{
    _lclose(file);
    DeleteFileA(path);
    if (result != CopyCancelled) {
        char text[MessageTextSize];
        if (CrcFailed)
            LoadMessageText(text, SettingCRCError, IDS_CRC_ERROR);
        else
            LoadMessageText(text, SettingSpaceError, IDS_SPACE_ERROR);
        ShowErrorBox(text);
    }
    EndRun(ExitPackageAborted);
}

// Copies the stream at offset of the program's own file into path, which
// exists, empty.
void ExtractStream(const char *path, unsigned long offset, unsigned size)
{
    HFILE file = _lopen(path, OF_READWRITE);
    if (file == HFILE_ERROR) {
        ShowErrorBox(0);
        EndRun(ExitPackageAborted);
    }
    // The walk of the tail has checked offset and size against the file's
    // addressable range; a seek that still fails leaves nothing to trust,
    // and a size of 0 has CopyStream report the stream corrupt.
    if (!SeekOwnFile(offset))
        size = 0;
    CopyResult result = CopyStream(file, int(size), InstallerSettings.PasswordLength > 1);
    if (result != CopyDone)
        FailExtraction(file, path, result);
    _lclose(file);
}

void ChoosePackagePath(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    char commonFiles[256];
    ReadMachineText(CurrentVersionKey, "CommonFilesDir",
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

void ExtractPackage(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    if (PayloadHeader.Lengths[LengthExternalPackagePath] > 1) {
        ReadSettingText(SettingExternalPackagePath, PackagePath, PackagePathSize);
    } else {
        ChoosePackagePath();
        ExtractStream(PackagePath, PayloadTail.Package, PayloadTail.PackageSize);
    }

    TransformPath[0] = 0;
    int language = s.LanguageIndex;
    if (language < 1)
        return;
    // A size field that cannot be read counts as a stream too short for
    // its CRC: the corrupt-data message, as for any damaged stream.
    unsigned long offset = 0;
    unsigned size;
    if (!FindTransform(&PayloadTail, unsigned(language), ReadOwnFileAt, 0, &offset, &size))
        size = 0;
    MakeTransformPath(PackagePath, TransformPath);
    HFILE file = _lcreat(TransformPath, 0);
    if (file != HFILE_ERROR)
        _lclose(file);
    ExtractStream(TransformPath, offset, size);
}

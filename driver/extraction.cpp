// Embedded mode: the package and the chosen language's transform, copied
// out of the payload onto the disk for Windows Installer.
#include "driver/package.h"
#include "driver/launch.h"
#include "common/exit.h"
#include "common/flags.h"
#include "common/routines.h"
#include "common/settings.h"
#include "common/state.h"
#include "common/system.h"
#include "common/text.h"
#include "payload/stream.h"
#include "payload/tail.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

// Set once the package stream lies on the disk, so that a failing transform
// takes it away too: nothing half-prepared stays behind.
int PackageExtracted;

// Deletes a partial or corrupt output (and an extracted package), reports
// why the copy failed, and ends the run.
void FailExtraction(HFILE file, const char *path, CopyResult result)
{
    _lclose(file);
    DeleteSystemFile(path);
    if (PackageExtracted)
        DeleteSystemFile(PackagePath);
    if (result != CopyCancelled) {
        char text[MessageTextSize];
        if (CrcFailed)
            LoadMessageText(text, SettingCRCError, IDS_CRC_ERROR);
        else
            LoadMessageText(text, SettingSpaceError, IDS_SPACE_ERROR);
        ShowErrorBox(text);
    }
    EndRun(ExitNotInstalled);
}

// Creates the output at path, or, when that cannot be written, a new
// temporary file whose name replaces path. Ends the run with the corrupt
// message when neither can be created; nothing is left on the disk then.
HFILE CreateOutput(char *path)
{
    CreatePathDirectories(path);
    HFILE file = CreateSystemFile(path);
    if (file == HFILE_ERROR) {
        MakeTempFileName(path);
        file = CreateSystemFile(path);
    }
    if (file == HFILE_ERROR) {
        if (path[0])
            DeleteSystemFile(path);
        EndRunCorrupt();
    }
    return file;
}

// Copies the stream at offset of the program's own file into a new file at
// path (which may change, see CreateOutput).
void ExtractStream(char *path, unsigned long offset, unsigned size)
{
    HFILE file = CreateOutput(path);
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

// Where a carried package goes: the common-files folder, else the temporary
// folder, under the package's own name; empty when neither is known. An
// external package may come without a name: its transform then takes one.
void ChooseExtractionPath(char *path)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    char name[3 * SettingsTextSize];
    CopyText(name, sizeof name, s.PackageFileName[0] ? s.PackageFileName : "Package.MSI");
    SystemTextFromAnsi(name, sizeof name);
    char commonFiles[SystemPathSize];
    ReadMachineText(CurrentVersionKey, "CommonFilesDir", commonFiles, sizeof commonFiles);
    MakeExtractionPath(commonFiles, name, s.TransformMSI[0] != 0, path);
    if (!path[0]) {
        char temp[SystemPathSize];
        unsigned length = SystemTempFolder(temp, sizeof temp);
        if (length) {
            CopyText(path, PackagePathSize, temp);
            if (temp[length - 1] != '\\')
                AppendText(path, PackagePathSize, "\\");
            AppendText(path, PackagePathSize, name);
        }
    }
}

} // namespace

void ExtractPackage(void)
{
    const InstallerSettingsRecord &s = InstallerSettings;
    // The name comes from the payload: anything but a plain file name could
    // write elsewhere than the extraction folder, or open a device.
    if (s.PackageFileName[0] && !IsPlainFileName(s.PackageFileName))
        EndRunCorrupt();
    // The transform goes where a carried package would, never beside an
    // external package, which may be a URL or lie on read-only media.
    char place[PackagePathSize];
    ChooseExtractionPath(place);
    if (PayloadHeader.Lengths[LengthExternalPackagePath] > 1) {
        ReadSettingText(SettingExternalPackagePath, PackagePath, PackagePathSize);
        SystemTextFromAnsi(PackagePath, PackagePathSize);
    } else {
        CopyText(PackagePath, PackagePathSize, place);
        ExtractStream(PackagePath, PayloadTail.Package, PayloadTail.PackageSize);
        PackageExtracted = 1;
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
    MakeTransformPath(PackageExtracted ? PackagePath : place, TransformPath);
    ExtractStream(TransformPath, offset, size);
}

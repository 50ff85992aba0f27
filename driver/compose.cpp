#include "driver/compose.h"
#include "common/text.h"

namespace {

const char *SkipRawMarker(const char *text)
{
    text += 2;
    while (*text == ' ')
        ++text;
    return text;
}

int StartsRaw(const char *text)
{
    return text[0] == '/' && text[1] == '*';
}

// msiexec's action switches: /A, /I, /J and /X in either case.
int HasActionSwitch(const char *text)
{
    for (; *text; ++text) {
        if (*text != '/')
            continue;
        char c = char(text[1] | 0x20);
        if (c == 'a' || c == 'i' || c == 'j' || c == 'x')
            return 1;
    }
    return 0;
}

void AppendQuoted(char *out, unsigned capacity, const char *prefix, const char *value)
{
    AppendText(out, capacity, prefix);
    AppendText(out, capacity, "\"");
    AppendText(out, capacity, value);
    AppendText(out, capacity, "\"");
}

} // namespace

int ComposeArguments(const LaunchInputs &in, char *argumentText)
{
    const char *user = in.UserArguments;
    char switchText[SwitchTextSize];
    argumentText[0] = 0;
    int isTransform = in.TransformMSI[0] != 0;

    if (!user[0])
        CopyText(switchText, sizeof switchText, in.StoredCmdLine);
    else
        switchText[0] = 0;
    // A carried transform takes the language's transform into its own
    // clause below: msiexec applies only one TRANSFORMS property. The raw
    // form passes the stored text on as it stands, clause and all.
    if (in.TransformPath[0] && (!isTransform || StartsRaw(switchText)))
        AppendQuoted(switchText, sizeof switchText, " TRANSFORMS=", in.TransformPath);

    if (StartsRaw(user)) {
        in.Expand(SkipRawMarker(user), argumentText, ExpandedTextSize);
    } else {
        if (user[0])
            in.Expand(user, switchText, ExpandedTextSize);
        else if (!switchText[0])
            CopyText(switchText, sizeof switchText, "/I");

        if (StartsRaw(switchText)) {
            in.Expand(SkipRawMarker(switchText), argumentText, ExpandedTextSize);
        } else {
            if (!HasActionSwitch(switchText)) {
                if (switchText[0])
                    AppendText(switchText, sizeof switchText, " ");
                AppendText(switchText, sizeof switchText, "/I");
            }
            CopyText(argumentText, ArgumentTextSize, switchText);
            AppendQuoted(argumentText, ArgumentTextSize, " ",
                         isTransform ? in.TransformMSI : in.PackagePath);
            if (isTransform) {
                // The carried transform first, then the language's, which
                // the user's own arguments replace as everywhere else.
                AppendText(argumentText, ArgumentTextSize, " TRANSFORMS=\"");
                AppendText(argumentText, ArgumentTextSize, in.PackagePath);
                if (!user[0] && in.TransformPath[0]) {
                    AppendText(argumentText, ArgumentTextSize, ";");
                    AppendText(argumentText, ArgumentTextSize, in.TransformPath);
                }
                AppendText(argumentText, ArgumentTextSize, "\"");
            }
        }
    }

    if (!argumentText[0])
        return 0;
    AppendQuoted(argumentText, ArgumentTextSize, " KEST_SETUP_EXE_PATH=", in.ProgramPath);
    return 1;
}

void ResolveSettingsPackage(const char *productFile, const char *languageFile,
                            const char *exeDirectory, char *packagePath, char *transformPath)
{
    CopyText(transformPath, LanguageFileSize, languageFile);
    const char *package = productFile;
    unsigned length = TextLength(transformPath);
    if (length > 4 && !TextEqualNoCase(transformPath + length - 4, ".mst")) {
        // A full package per language rather than a transform.
        package = languageFile;
        transformPath[0] = 0;
    }
    packagePath[0] = 0;
    if (!TextStartsWithNoCase(package, "http://"))
        CopyText(packagePath, PackagePathSize, exeDirectory);
    AppendText(packagePath, PackagePathSize, package);
}

void MakeExtractionPath(const char *commonFilesDir, const char *packageFileName, int isTransform,
                        char *packagePath)
{
    packagePath[0] = 0;
    if (!commonFilesDir[0])
        return;
    unsigned length = CopyText(packagePath, PackagePathSize, commonFilesDir);
    if (packagePath[length - 1] == '\\')
        packagePath[length - 1] = 0;
    AppendText(packagePath, PackagePathSize, "\\Kest Installation Wizard\\");
    length = AppendText(packagePath, PackagePathSize, packageFileName);
    if (length >= 3)
        CopyText(packagePath + length - 3, 4, isTransform ? "MST" : "MSI");
}

void MakeTransformPath(const char *packagePath, char *transformPath)
{
    unsigned length = CopyText(transformPath, PackagePathSize, packagePath);
    if (length <= 4)
        return;
    // A carried transform already has the ".MST" name: the language's
    // transform must not overwrite it.
    int taken = TextEqualNoCase(transformPath + length - 4, ".MST");
    CopyText(transformPath + length - 4, PackagePathSize - (length - 4),
             taken ? "-language.MST" : ".MST");
}

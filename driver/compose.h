// Composing the msiexec command line. Pure: environment expansion is
// passed in, so the composition runs natively in the unit tests.
#pragma once

enum {
    // Paths are UTF-8 on Windows NT, up to three bytes a character.
    PackagePathSize = 1024,
    SwitchTextSize = 512,
    ArgumentTextSize = 2048,
    ExpandedTextSize = 512,
    LanguageFileSize = 780,
};

// Expands environment variables of text into out (capacity bytes, always
// terminated, cut to fit).
typedef void (*ExpandFunction)(const char *text, char *out, unsigned capacity);

struct LaunchInputs {
    const char *UserArguments; // the user's arguments, possibly empty
    const char *StoredCmdLine; // the stored switches, used when there are none
    const char *PackagePath;   // the package handed to msiexec
    const char *TransformPath; // the selected language's transform, or empty
    const char *TransformMSI;  // set: the package is a transform of this package
    const char *ProgramPath;   // the stub's own full path
    ExpandFunction Expand;
};

// Fills argumentText (ArgumentTextSize bytes) with the complete msiexec
// arguments, ending with the KEST_SETUP_EXE_PATH property. Returns 0 and
// leaves argumentText empty when the user's or the stored raw form ("/*")
// expands to nothing, in which case nothing is to be started.
int ComposeArguments(const LaunchInputs &in, char *argumentText);

// Settings-file mode: where the package and the transform lie. A language
// file that is not a ".mst" replaces the package; a package that starts
// with "http://" (any case) is used as it stands, any other is relative to
// exeDirectory. packagePath holds PackagePathSize bytes, transformPath
// LanguageFileSize.
void ResolveSettingsPackage(const char *productFile, const char *languageFile,
                            const char *exeDirectory, char *packagePath, char *transformPath);

// Embedded mode: the preferred file for the extracted package, the
// common-files folder followed by "\Kest Installation Wizard\" and the
// package's file name, its last three characters replaced by "MST" for a
// carried transform and by "MSI" otherwise. Empty when commonFilesDir is.
void MakeExtractionPath(const char *commonFilesDir, const char *packageFileName, int isTransform,
                        char *packagePath);

// The transform's file beside the package: packagePath with its last four
// characters replaced by ".MST", or by "-language.MST" when they are ".MST"
// already (a carried transform); unchanged when it is not longer than four.
void MakeTransformPath(const char *packagePath, char *transformPath);

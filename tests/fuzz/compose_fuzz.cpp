// The msiexec command line from what the user, the payload or the settings
// file, and the machine give: the package and transform paths and the
// argument text. Input: command line NUL CmdLine NUL CommonFilesDir or the
// program's folder NUL package file name or ProductFile NUL language file
// NUL TransformMSI NUL program path NUL options (settings-file mode,
// language chosen).
#include "fuzz.h"
#include "common/text.h"
#include "driver/cmdline.h"
#include "driver/compose.h"

namespace {

const size_t TextSize = 256; // payload texts, registry values, module path

// Environment expansion as ExpandEnvironmentStringsA does it, with one
// variable that grows the text a lot, under the stub's rule: a result
// that does not fit the stub's room stays unexpanded, and is cut to fit.
void Expand(const char *text, char *out, unsigned capacity)
{
    std::string expanded, in = text;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in.compare(i, 3, "%A%") == 0) {
            expanded += std::string(300, 'a');
            i += 2;
        } else {
            expanded += in[i];
        }
    }
    CopyText(out, capacity, expanded.size() < ArgumentTextSize ? expanded.c_str() : text);
}

bool SameNoCase(const char *a, const char *b)
{
    return TextEqualNoCase(a, b) != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Fields fields(data, size);
    std::string options = fields[7];
    bool settingsMode = !options.empty() && (options[0] & 1);
    bool language = !options.empty() && (options[0] & 2);

    fuzz::Buffer commandLine(fields[0], fields[0].size() + 1);
    fuzz::Buffer stored(fields[1], TextSize), folder(fields[2], TextSize);
    fuzz::Buffer name(fields[3], TextSize), languageFile(fields[4], TextSize);
    fuzz::Buffer transformMsi(fields[5], TextSize), program(fields[6], TextSize);
    fuzz::Buffer packagePath(PackagePathSize), transformPath(PackagePathSize);

    if (settingsMode) {
        ResolveSettingsPackage(name.get(), languageFile.get(), folder.get(), packagePath.get(),
                               transformPath.get());
        FUZZ_CHECK(std::strlen(transformPath.get()) < LanguageFileSize);
    } else {
        MakeExtractionPath(folder.get(), name.get(), transformMsi.get()[0] != 0,
                           packagePath.get());
        FUZZ_CHECK(packagePath.Terminated());
        std::string made = packagePath.get();
        if (!folder.get()[0])
            FUZZ_CHECK(made.empty());
        else if (made.size() >= 3)
            FUZZ_CHECK(made.compare(made.size() - 3, 3, transformMsi.get()[0] ? "MST" : "MSI") ==
                       0);
        transformPath.get()[0] = 0;
        if (language) {
            MakeTransformPath(packagePath.get(), transformPath.get());
            FUZZ_CHECK(transformPath.Terminated());
            // The language's transform never takes the package's file.
            if (made.size() > 4)
                FUZZ_CHECK(!SameNoCase(transformPath.get(), packagePath.get()));
        }
    }
    FUZZ_CHECK(packagePath.Terminated() && transformPath.Terminated());

    LaunchInputs in;
    in.UserArguments = SplitCommandLine(commandLine.get());
    in.StoredCmdLine = stored.get();
    in.PackagePath = packagePath.get();
    in.TransformPath = transformPath.get();
    in.TransformMSI = transformMsi.get();
    in.ProgramPath = program.get();
    in.Expand = Expand;
    fuzz::Buffer arguments(ArgumentTextSize);
    int any = ComposeArguments(in, arguments.get());
    FUZZ_CHECK(arguments.Terminated());
    std::string text = arguments.get();
    if (!any) {
        FUZZ_CHECK(text.empty());
        return 0;
    }
    // The program's path closes the text, unless the text was cut.
    std::string property = " KEST_SETUP_EXE_PATH=\"" + std::string(program.get()) + "\"";
    if (text.size() < ArgumentTextSize - 1)
        FUZZ_CHECK(text.size() >= property.size() &&
                   text.compare(text.size() - property.size(), property.size(), property) == 0);
    return 0;
}

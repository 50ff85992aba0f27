#include "driver/compose.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

// Expands %NAME% for one known variable, the way the system would.
void FakeExpand(const char *text, char *out, unsigned capacity)
{
    std::string s = text;
    for (size_t at; (at = s.find("%KESTDIR%")) != std::string::npos;)
        s.replace(at, 9, "C:\\Kest Dir");
    std::strncpy(out, s.c_str(), capacity - 1);
    out[capacity - 1] = 0;
}

struct Launch {
    const char *user = "";
    const char *stored = "";
    const char *package = "C:\\Common\\Kest Installation Wizard\\Setup.MSI";
    const char *transform = "";
    const char *transformMsi = "";
    const char *program = "C:\\Dl\\setup.exe";

    std::string Compose(int *any = nullptr) const
    {
        LaunchInputs in{user, stored, package, transform, transformMsi, program, FakeExpand};
        char out[ArgumentTextSize];
        std::memset(out, 'x', sizeof out);
        int r = ComposeArguments(in, out);
        if (any)
            *any = r;
        return out;
    }
};

const std::string Tail = " KEST_SETUP_EXE_PATH=\"C:\\Dl\\setup.exe\"";
const std::string Pkg = "\"C:\\Common\\Kest Installation Wizard\\Setup.MSI\"";

TEST(ComposeArguments, StoredSwitchesGetAnActionAndThePackage)
{
    Launch l;
    l.stored = "/qb";
    EXPECT_EQ(l.Compose(), "/qb /I " + Pkg + Tail);
    l.stored = "/x";
    EXPECT_EQ(l.Compose(), "/x " + Pkg + Tail);
    l.stored = "";
    EXPECT_EQ(l.Compose(), "/I " + Pkg + Tail);
    l.stored = "/qn /A";
    EXPECT_EQ(l.Compose(), "/qn /A " + Pkg + Tail);
    l.stored = "/j";
    EXPECT_EQ(l.Compose(), "/j " + Pkg + Tail);
}

TEST(ComposeArguments, UserArgumentsReplaceStoredTextAndTransform)
{
    Launch l;
    l.stored = "/x";
    l.transform = "C:\\t\\French.mst";
    l.user = "/qn REBOOT=ReallySuppress";
    EXPECT_EQ(l.Compose(), "/qn REBOOT=ReallySuppress /I " + Pkg + Tail);
    l.user = "INSTALLDIR=%KESTDIR%";
    EXPECT_EQ(l.Compose(), "INSTALLDIR=C:\\Kest Dir /I " + Pkg + Tail);
}

TEST(ComposeArguments, TransformClause)
{
    Launch l;
    l.transform = "C:\\t\\Setup.MST";
    // Only the transform clause: it starts with a blank, then the action.
    EXPECT_EQ(l.Compose(), " TRANSFORMS=\"C:\\t\\Setup.MST\" /I " + Pkg + Tail);
    l.stored = "/qb";
    EXPECT_EQ(l.Compose(), "/qb TRANSFORMS=\"C:\\t\\Setup.MST\" /I " + Pkg + Tail);
}

TEST(ComposeArguments, CarriedTransformOfAnotherPackage)
{
    Launch l;
    l.stored = "/qn";
    l.transformMsi = "C:\\Base.msi";
    l.package = "C:\\x\\Setup.MST";
    EXPECT_EQ(l.Compose(), "/qn /I \"C:\\Base.msi\" TRANSFORMS=\"C:\\x\\Setup.MST\"" + Tail);
    // With a language's transform as well: one clause, the carried one first.
    l.transform = "C:\\x\\Setup-language.MST";
    EXPECT_EQ(l.Compose(), "/qn /I \"C:\\Base.msi\" "
                           "TRANSFORMS=\"C:\\x\\Setup.MST;C:\\x\\Setup-language.MST\"" +
                               Tail);
    // The user's arguments replace the language's transform, not the package.
    l.user = "/qb";
    EXPECT_EQ(l.Compose(), "/qb /I \"C:\\Base.msi\" TRANSFORMS=\"C:\\x\\Setup.MST\"" + Tail);
}

TEST(ComposeArguments, RawForms)
{
    Launch l;
    l.stored = "/qb";
    l.transform = "C:\\t\\a.mst";
    l.user = "/*  /i \"C:\\p q\\x.msi\" /qn";
    EXPECT_EQ(l.Compose(), "/i \"C:\\p q\\x.msi\" /qn" + Tail);
    l.user = "/*/x {GUID} DIR=%KESTDIR%";
    EXPECT_EQ(l.Compose(), "/x {GUID} DIR=C:\\Kest Dir" + Tail);

    Launch s;
    s.stored = "/* /fa \"%KESTDIR%\\a.msi\"";
    EXPECT_EQ(s.Compose(), "/fa \"C:\\Kest Dir\\a.msi\"" + Tail);
}

TEST(ComposeArguments, EmptyRawFormStartsNothing)
{
    Launch l;
    l.user = "/*   ";
    int any = 1;
    EXPECT_EQ(l.Compose(&any), "");
    EXPECT_EQ(any, 0);
    Launch s;
    s.stored = "/*";
    EXPECT_EQ(s.Compose(&any), "");
    EXPECT_EQ(any, 0);
}

TEST(ComposeArguments, OverlongTextsAreCutNotOverrun)
{
    std::string longUser = "/qn P=" + std::string(2 * ArgumentTextSize, 'a');
    std::string longPath(ArgumentTextSize, 'p');
    Launch l;
    l.user = longUser.c_str();
    l.program = longPath.c_str();
    std::string out = l.Compose();
    EXPECT_EQ(out.size(), size_t(ArgumentTextSize - 1));
    EXPECT_EQ(out.compare(0, 7, "/qn P=a"), 0);
}

std::string Resolve(const char *product, const char *language, std::string *transform)
{
    char package[PackagePathSize], t[LanguageFileSize];
    ResolveSettingsPackage(product, language, "C:\\Media\\", package, t);
    *transform = t;
    return package;
}

TEST(ResolveSettingsPackage, LanguageFileIsTransformOrReplacementPackage)
{
    std::string t;
    EXPECT_EQ(Resolve("Product.msi", "", &t), "C:\\Media\\Product.msi");
    EXPECT_EQ(t, "");
    EXPECT_EQ(Resolve("Product.msi", "French.mst", &t), "C:\\Media\\Product.msi");
    EXPECT_EQ(t, "French.mst");
    EXPECT_EQ(Resolve("Product.msi", "FRENCH.MST", &t), "C:\\Media\\Product.msi");
    EXPECT_EQ(t, "FRENCH.MST");
    EXPECT_EQ(Resolve("Product.msi", "French.msi", &t), "C:\\Media\\French.msi");
    EXPECT_EQ(t, "");
    // Four characters or fewer stay a transform, as written.
    EXPECT_EQ(Resolve("Product.msi", ".mst", &t), "C:\\Media\\Product.msi");
    EXPECT_EQ(t, ".mst");
}

TEST(ResolveSettingsPackage, HttpPackagesAreUsedAsTheyStand)
{
    std::string t;
    EXPECT_EQ(Resolve("HTTP://example.test/p.msi", "", &t), "HTTP://example.test/p.msi");
    EXPECT_EQ(Resolve("http://example.test/p.msi", "", &t), "http://example.test/p.msi");
    EXPECT_EQ(Resolve("https-not.msi", "", &t), "C:\\Media\\https-not.msi");
    EXPECT_EQ(Resolve("Product.msi", "Http://example.test/fr.msi", &t), "Http://example.test/fr.msi");
}

} // namespace

namespace {

std::string Extraction(const char *common, const char *name, int transform)
{
    char out[PackagePathSize];
    std::memset(out, 'x', sizeof out);
    MakeExtractionPath(common, name, transform, out);
    return out;
}

TEST(MakeExtractionPath, CommonFilesFolderAndFixedEnding)
{
    EXPECT_EQ(Extraction("C:\\Program Files\\Common Files", "Setup.msi", 0),
              "C:\\Program Files\\Common Files\\Kest Installation Wizard\\Setup.MSI");
    EXPECT_EQ(Extraction("C:\\Common\\", "Setup.msi", 1),
              "C:\\Common\\Kest Installation Wizard\\Setup.MST");
    EXPECT_EQ(Extraction("", "Setup.msi", 0), "");
}

TEST(MakeExtractionPath, OverlongNamesAreCut)
{
    std::string common(PackagePathSize + 100, 'c');
    std::string out = Extraction(common.c_str(), "Setup.msi", 0);
    EXPECT_EQ(out.size(), size_t(PackagePathSize - 1));
    EXPECT_EQ(out.substr(out.size() - 3), "MSI");
}

TEST(MakeTransformPath, ReplacesTheLastFourCharacters)
{
    char out[PackagePathSize];
    MakeTransformPath("C:\\x\\Setup.MSI", out);
    EXPECT_STREQ(out, "C:\\x\\Setup.MST");
    MakeTransformPath("a.b", out);
    EXPECT_STREQ(out, "a.b");
    MakeTransformPath("KXC1.TMP", out);
    EXPECT_STREQ(out, "KXC1.MST");
    // Beside a carried transform, a name of its own.
    MakeTransformPath("C:\\x\\Setup.MST", out);
    EXPECT_STREQ(out, "C:\\x\\Setup-language.MST");
    MakeTransformPath("C:\\x\\Setup.mst", out);
    EXPECT_STREQ(out, "C:\\x\\Setup-language.MST");
}

} // namespace

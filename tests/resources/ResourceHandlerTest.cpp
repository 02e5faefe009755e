#include "resources/ResourceHandler.h"
#include "diagnostics/TraceLog.h"
#include "resources/LanguageResources.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include "support/PackageFiles.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <dlfcn.h>
#include <filesystem>
#include <regex>
#include <vector>

using namespace quilltest;

namespace {

struct LoadAttempt {
    std::string path;
    std::int64_t handle;
};

class ResourceHandlerTest : public ::testing::Test {
  protected:
    ResourceHandlerTest() : m_store(m_dir.file("user.reg"), m_dir.file("machine.reg"))
    {
        m_log.openLog(m_dir.file("trace.log"), 3, -1);
        m_handler.setExecutablePath(QString::fromStdString(m_dir.file("bin/quillstream")));
        m_handler.setFailureReporter([this](const QString& text) { m_messages.push_back(text); });
    }

    void setText(SettingId id, const std::string& value)
    {
        m_store.setString(id, std::u16string(value.begin(), value.end()));
    }

    void setLocale(const std::string& lang)
    {
        m_env.clear();
        m_env.push_back(std::make_unique<ScopedEnv>("LANGUAGE", ""));
        m_env.push_back(std::make_unique<ScopedEnv>("LC_ALL", ""));
        m_env.push_back(std::make_unique<ScopedEnv>("LC_MESSAGES", ""));
        m_env.push_back(std::make_unique<ScopedEnv>("LANG", lang));
    }

    std::string trace()
    {
        m_log.closeLog();
        std::string text = readFile(m_dir.file("trace.log"));
        m_log.openLog(m_dir.file("trace.log"), 3, -1);
        return text;
    }

    std::vector<LoadAttempt> attempts()
    {
        std::vector<LoadAttempt> found;
        const std::string text = trace();
        static const std::regex line(R"(path: (\S*) result: (-?\d+)\r\n)");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
             it != std::sregex_iterator(); ++it) {
            found.push_back({(*it)[1].str(), std::stoll((*it)[2].str())});
        }
        return found;
    }

    TempDir m_dir;
    SettingsStore m_store;
    TraceLog m_log;
    std::vector<QString> m_messages;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
    ResourceHandler m_handler{&m_store, &m_log};
};

struct ChoiceCase {
    const char* name;
    std::string setting; // GUILanguage
    std::string locale;  // LANG
    std::vector<std::string> installed;
    bool loaded;
    std::string language;
    std::vector<std::string> tried; // codes, in order
};

class LanguageChoiceTest : public ResourceHandlerTest,
                           public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(LanguageChoiceTest, ChoosesLoadsAndFallsBack)
{
    const ChoiceCase& c = GetParam();
    const std::string folder = m_dir.file("lang");
    setText(Setting::ResourceDllPath, folder);
    setLocale(c.locale);
    setText(Setting::GuiLanguage, c.setting);
    for (const std::string& code : c.installed) {
        installPackage(code, folder + "/quillstream_" + code + ".dll");
    }

    EXPECT_EQ(m_handler.loadLanguageResources(), c.loaded);
    EXPECT_EQ(m_handler.isLoaded(), c.loaded);
    EXPECT_EQ(m_handler.language().toStdString(), c.language);

    const std::vector<LoadAttempt> seen = attempts();
    ASSERT_EQ(seen.size(), c.tried.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].path, folder + "/quillstream_" + c.tried[i] + ".dll");
        const bool last = i + 1 == seen.size();
        EXPECT_EQ(seen[i].handle != 0, last && c.loaded) << seen[i].path;
    }

    if (c.loaded) {
        EXPECT_TRUE(m_messages.empty());
        EXPECT_EQ(m_handler.helpPath().toStdString(), "/quillstream_" + c.language + ".chm");
        EXPECT_EQ(reinterpret_cast<std::intptr_t>(m_handler.moduleHandle()), seen.back().handle);
        // The package's own texts are served: German and English settings captions differ.
        EXPECT_EQ(LanguageResources::current().string(9).toStdString(),
                  c.language == "DE" ? "Einstellungen" : "Settings");
    } else {
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages[0].toStdString(), "Failed to load resource DLL for language: EN");
        EXPECT_FALSE(LanguageResources::current().isLoaded());
        EXPECT_TRUE(m_handler.helpPath().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageChoiceTest,
    ::testing::Values(
        ChoiceCase{
            "GermanLocaleWithGermanPackage", "", "de_DE.UTF-8", {"EN", "DE"}, true, "DE", {"DE"}},
        ChoiceCase{"GermanLocaleWithoutGermanPackage",
                   "",
                   "de_DE.UTF-8",
                   {"EN"},
                   true,
                   "EN",
                   {"DE", "EN"}},
        ChoiceCase{"FrenchSettingWithoutFrenchPackage",
                   "FR",
                   "de_DE.UTF-8",
                   {"EN", "DE"},
                   true,
                   "EN",
                   {"FR", "EN"}},
        ChoiceCase{"SettingWinsOverLocale", "DE", "en_GB.UTF-8", {"EN", "DE"}, true, "DE", {"DE"}},
        ChoiceCase{
            "LowerCaseSettingKeptInFileName", "de", "", {"EN", "DE"}, true, "EN", {"de", "EN"}},
        ChoiceCase{"CLocaleGoesStraightToEnglish", "", "C", {"EN", "DE"}, true, "EN", {"EN"}},
        ChoiceCase{"CLocaleWithoutEnglishTriesItOnce", "", "C", {"DE"}, false, "", {"EN"}},
        ChoiceCase{"EnglishMissingIsTriedOnce", "EN", "de_DE.UTF-8", {"DE"}, false, "", {"EN"}},
        ChoiceCase{"NoPackageAtAll", "", "de_DE.UTF-8", {}, false, "", {"DE", "EN"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ResourceHandlerTest, FailedLoadIsTracedAlwaysWithTheErrorNumber)
{
    // The failure lines are written whatever the configured level.
    m_log.closeLog();
    m_log.openLog(m_dir.file("trace.log"), 0, -1);
    const QString missing = QString::fromStdString(m_dir.file("nowhere/quillstream_EN.dll"));
    EXPECT_EQ(m_handler.loadResourceDllFromPath(missing), ResourceHandler::NotFound);
    const std::string text = trace();
    EXPECT_NE(
        text.find("Failed not load resource DLL: " + missing.toStdString() + "error code: 2\r\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("load resource DLL:"), text.find("Failed not load resource DLL:") + 11)
        << "the level-3 line must not be written at level 0";
}

TEST_F(ResourceHandlerTest, FilesThatAreNoPackagesAreRefused)
{
    struct Row {
        const char* what;
        std::string file;
    };
    writeFile(m_dir.file("text.dll"), "not a module");
    std::filesystem::create_directories(m_dir.file("folder.dll"));
    // A real shared object of the right name that is not one of our packages: the maths
    // library this test already uses, wherever this system keeps it.
    Dl_info info{};
    ASSERT_NE(
        ::dladdr(reinterpret_cast<void*>(static_cast<double (*)(double, double)>(&::nextafter)),
                 &info),
        0);
    std::filesystem::copy_file(info.dli_fname, m_dir.file("libm.dll"));
    for (const Row& row :
         {Row{"text file", m_dir.file("text.dll")}, Row{"folder", m_dir.file("folder.dll")},
          Row{"foreign library", m_dir.file("libm.dll")}}) {
        EXPECT_EQ(m_handler.loadResourceDllFromPath(QString::fromStdString(row.file)),
                  ResourceHandler::Failed)
            << row.what;
        EXPECT_FALSE(m_handler.isLoaded()) << row.what;
        EXPECT_EQ(m_handler.moduleHandle(), nullptr) << row.what;
    }
    const std::vector<LoadAttempt> seen = attempts();
    ASSERT_EQ(seen.size(), 3u);
    for (const LoadAttempt& a : seen) {
        EXPECT_EQ(a.handle, 0) << a.path;
    }
}

TEST_F(ResourceHandlerTest, CodesThatLeaveTheFolderAreNotLoaded)
{
    installPackage("EN", m_dir.file("quillstream_EN.dll"));
    setText(Setting::ResourceDllPath, m_dir.file("lang"));
    EXPECT_EQ(m_handler.loadResourceDll(QStringLiteral("/../EN")), ResourceHandler::Failed);
    EXPECT_FALSE(m_handler.isLoaded());
}

TEST_F(ResourceHandlerTest, DotFolderMeansTheExecutablesFolder)
{
    setText(Setting::ResourceDllPath, ".");
    installPackage("EN", m_dir.file("bin/quillstream_EN.dll"));
    const QString expected = QString::fromStdString(m_dir.file("bin/quillstream_EN.dll"));
    EXPECT_EQ(m_handler.buildResourceDllPath(QStringLiteral("EN")), expected);
    EXPECT_EQ(m_handler.loadResourceDll(QStringLiteral("EN")), ResourceHandler::Loaded);
}

TEST_F(ResourceHandlerTest, SetFolderAndPrefixNameTheFile)
{
    installPackage("DE", m_dir.file("Lang/TX_DE.dll"));
    setText(Setting::ResourceDllPrefix, "TX_");
    for (const std::string& folder : {m_dir.file("Lang"), m_dir.file("Lang") + "/"}) {
        setText(Setting::ResourceDllPath, folder);
        EXPECT_EQ(m_handler.buildResourceDllPath(QStringLiteral("DE")).toStdString(),
                  m_dir.file("Lang/TX_DE.dll"));
    }
    ASSERT_TRUE(m_handler.loadLanguage(QStringLiteral("DE")));
    // The package names its own bundle, whatever the file is called.
    EXPECT_EQ(LanguageResources::current().root(), QStringLiteral(":/lang/DE"));
}

TEST_F(ResourceHandlerTest, EmptyFolderLeavesTheSearchToTheLoader)
{
    // This test runs from the build's bin folder, whose RUNPATH ($ORIGIN) holds the packages.
    m_handler.setExecutablePath(QStringLiteral("/somewhere/else/quillstream"));
    EXPECT_EQ(m_handler.buildResourceDllPath(QStringLiteral("EN")),
              QStringLiteral("quillstream_EN.dll"));
    EXPECT_EQ(m_handler.loadResourceDll(QStringLiteral("EN")), ResourceHandler::Loaded);
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/lang/EN/strings.json")));
    m_handler.freeResourceDll();
    EXPECT_FALSE(LanguageResources::current().isLoaded());
    // The bundle went away with the module.
    EXPECT_FALSE(QFile::exists(QStringLiteral(":/lang/EN/strings.json")));
}

TEST_F(ResourceHandlerTest, HelpPathIsAbsoluteAndNormalised)
{
    struct Row {
        std::string folder;
        std::string prefix;
        std::string expected;
    };
    const std::string cwd = std::filesystem::current_path().string();
    for (const Row& row :
         {Row{"", "", "/quillstream_EN.chm"}, Row{"/opt/q", "Q_", "/opt/q/Q_EN.chm"},
          Row{"/opt/q/", "", "/opt/q/quillstream_EN.chm"},
          Row{"/opt/q/../help", "", "/opt/help/quillstream_EN.chm"},
          Row{"docs", "", cwd + "/docs/quillstream_EN.chm"}}) {
        setText(Setting::HelpFilePath, row.folder);
        setText(Setting::HelpFilePrefix, row.prefix);
        m_handler.setHelpPath(QStringLiteral("EN"));
        EXPECT_EQ(m_handler.helpPath().toStdString(), row.expected) << row.folder;
        EXPECT_NE(trace().find("Help-path: " + row.expected + "\r\n"), std::string::npos);
    }
}

TEST(ModulePrefixTest, CutsTheFirstExeOrElseEXE)
{
    struct Row {
        const char* path;
        const char* prefix;
    };
    for (const Row& row :
         {Row{"/usr/bin/quillstream", "quillstream_"}, Row{"/opt/Quillstream.exe", "Quillstream_"},
          Row{"/opt/VIEWER.EXE", "VIEWER_"}, Row{"/opt/Watch.Exe", "Watch.Exe_"},
          Row{"/opt/a.exe.EXE", "a_"}, Row{"/opt/b.EXE.exe", "b.EXE_"},
          Row{"/opt/my.exefile", "my_"}, Row{"relative/Viewer", "Viewer_"}}) {
        EXPECT_EQ(ResourceHandler::modulePrefix(QString::fromUtf8(row.path)).toStdString(),
                  row.prefix)
            << row.path;
    }
    // Without a path, the name the program was started under.
    EXPECT_EQ(ResourceHandler::modulePrefix(QString()).toStdString(),
              std::string(program_invocation_short_name) + "_");
}

TEST(DefaultLanguageTest, FirstLocaleVariableSetDecides)
{
    struct Row {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* expected;
    };
    for (const Row& row :
         {Row{"", "", "", "de_DE.UTF-8", "DE"}, Row{"", "", "", "en", "EN"},
          Row{"", "", "", "C", ""}, Row{"", "", "", "POSIX", ""},
          Row{"", "C.UTF-8", "", "de_DE.UTF-8", ""}, Row{"fr:de", "", "", "en_US.UTF-8", "FR"},
          Row{"", "sr_RS@latin", "", "de_DE", "SR"}, Row{"", "", "pt_BR.UTF-8", "de_DE", "PT"},
          Row{"", "", "", "", ""}, Row{"", "", "", "../../tmp/x", ""}}) {
        ScopedEnv a("LANGUAGE", row.language);
        ScopedEnv b("LC_ALL", row.lcAll);
        ScopedEnv c("LC_MESSAGES", row.lcMessages);
        ScopedEnv d("LANG", row.lang);
        EXPECT_EQ(ResourceHandler::defaultLanguage().toStdString(), row.expected)
            << row.language << "|" << row.lcAll << "|" << row.lcMessages << "|" << row.lang;
    }
}

// The real program under another name: the prefix comes from the running executable, and
// "." is that executable's folder, wherever the program was started from.
class RenamedProgramTest : public ::testing::Test {
  protected:
    struct Outcome {
        int exitCode;
        QString output;
    };

    Outcome run(const std::string& programName, const std::string& guiLanguage)
    {
        const std::string program = m_dir.file("app/" + programName);
        std::filesystem::create_directories(m_dir.file("app"));
        std::filesystem::create_directories(m_dir.file("elsewhere"));
        std::filesystem::copy_file(QUILL_PROBE, program,
                                   std::filesystem::copy_options::overwrite_existing);
        {
            SettingsStore store(m_dir.file("config/quillstream/user.reg"),
                                m_dir.file("none/quillstream/machine.reg"));
            store.setString(Setting::ResourceDllPath, u".");
            store.setString(Setting::GuiLanguage,
                            std::u16string(guiLanguage.begin(), guiLanguage.end()));
        }
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(m_dir.file("config")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), QString::fromStdString(m_dir.file("none")));
        env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(m_dir.path()));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        env.remove(QStringLiteral("LANGUAGE"));
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(m_dir.file("elsewhere")));
        process.start(QString::fromStdString(program), {});
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
    }

    TempDir m_dir;
};

TEST_F(RenamedProgramTest, RenamedExecutableLooksForItsOwnPrefix)
{
    installPackage("DE", m_dir.file("app/Viewer_DE.dll"));
    installPackage("EN", m_dir.file("app/quillstream_EN.dll")); // the wrong prefix: unused
    const Outcome outcome = run("Viewer", "DE");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("prefix=Viewer_\n")));
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("language=DE\n")));
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("string9=Einstellungen\n")));
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("help=/Viewer_DE.chm\n")));
}

TEST_F(RenamedProgramTest, ExeExtensionInAnotherCaseIsKept)
{
    installPackage("EN", m_dir.file("app/Watch.Exe_EN.dll"));
    const Outcome outcome = run("Watch.Exe", "");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output.toStdString();
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("prefix=Watch.Exe_\n")));
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("language=EN\n")));
}

TEST_F(RenamedProgramTest, WithoutEnglishPackageStartUpEndsWithTheMessage)
{
    installPackage("EN", m_dir.file("app/quillstream_EN.dll")); // named for another program
    const Outcome outcome = run("Viewer", "");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.output.contains(
        QStringLiteral("message=Failed to load resource DLL for language: EN\n")))
        << outcome.output.toStdString();
    EXPECT_TRUE(outcome.output.contains(QStringLiteral("loaded=0\n")));
}

} // namespace

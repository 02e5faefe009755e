#include "diagnostics/EnvironmentReport.h"
#include "diagnostics/TraceLog.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <ctime>
#include <regex>
#include <unistd.h>
#include <vector>

using namespace std::chrono;
using quilltest::readFile;
using quilltest::writeFile;

namespace {

constexpr std::string_view Prefix = "03/05/24 18:07:51 007 : ";

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

class EnvironmentReportTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ::tzset();
        std::setlocale(LC_TIME, "C");
        log.setTimeSource(
            [] { return system_clock::time_point(seconds(1709662071) + milliseconds(7)); });
    }
    void TearDown() override { ::tzset(); }

    void openLog(std::uint32_t level) { log.openLog(logPath, level, -1); }
    std::vector<std::string> loggedLines() { return linesOf(readFile(logPath)); }

    quilltest::ScopedEnv tz{"TZ", "UTC"};
    quilltest::TempDir dir;
    std::string logPath = dir.file("Quillstream.log");
    TraceLog log;
    SettingsStore settings{dir.file("user.reg"), dir.file("machine.reg")};
    EnvironmentReport report{log, settings};
};

SystemFacts sampleFacts()
{
    SystemFacts facts;
    facts.osKnown = true;
    facts.osText = "Linux 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC x86_64";
    facts.architecture = SystemFacts::ArchitectureAmd64;
    facts.processorCount = 8;
    facts.processorText = "AMD Ryzen 7 5700G with Radeon Graphics";
    facts.memoryLoad = 37;
    facts.totalPhysical = 16'000'000'000ull; // beyond 32 bits on purpose
    facts.availablePhysical = 10'080'000'000ull;
    facts.totalPaging = 1'023'406'080ull;
    facts.availablePaging = 1'000'000'000ull;
    facts.totalVirtual = 140'737'488'355'328ull;
    facts.availableVirtual = 140'737'000'000'000ull;
    facts.codePage = 1252;
    return facts;
}

TEST_F(EnvironmentReportTest, LinesInOrderWithExactLabels)
{
    openLog(3);
    report.writeEnvironment(sampleFacts());
    const std::string p(Prefix);
    const std::vector<std::string> expected = {
        p + "OS: Linux 6.1.0-18-amd64 #1 SMP PREEMPT_DYNAMIC x86_64",
        p + "Architecture: unknown: 9",
        p + "Number of processors: 8",
        p + "Processortype: AMD Ryzen 7 5700G with Radeon Graphics",
        p + "Percentage of memory in use:    37",
        "bytes of physical memory:    16000000000",
        "free physical memory bytes:  10080000000",
        "bytes of paging file:        1023406080",
        "free bytes of paging file:   1000000000",
        "user bytes of address space: 140737488355328",
        "free user bytes:             140737000000000",
        "code page:                   1252 ANSI",
    };
    EXPECT_EQ(loggedLines(), expected);
}

TEST_F(EnvironmentReportTest, IntelArchitectureAndUnnamedCodePage)
{
    SystemFacts facts = sampleFacts();
    facts.architecture = SystemFacts::ArchitectureIntel;
    facts.codePage = 850;
    openLog(3);
    report.writeEnvironment(facts);
    const std::vector<std::string> lines = loggedLines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[1], std::string(Prefix) + "Architecture: INTEL");
    EXPECT_EQ(lines[11], "code page:                   850 "); // the blank stays
}

TEST_F(EnvironmentReportTest, UndescribedSystemWritesNothing)
{
    openLog(3);
    report.writeEnvironment(SystemFacts{});
    EXPECT_EQ(readFile(logPath), "");
}

TEST_F(EnvironmentReportTest, BelowLevelThreeTheReportStaysOutOfTheFile)
{
    openLog(1);
    report.reportEnvironment();
    EXPECT_EQ(readFile(logPath), "");
    EXPECT_TRUE(report.facts().osKnown); // gathered all the same
}

TEST_F(EnvironmentReportTest, ThisMachineFillsEveryLine)
{
    openLog(3);
    report.reportEnvironment();
    const std::vector<std::string> lines = loggedLines();
    ASSERT_EQ(lines.size(), 12u);
    const char* labels[] = {"OS: Linux ",
                            "Architecture: ",
                            "Number of processors: ",
                            "Processortype: ",
                            "Percentage of memory in use:    ",
                            "bytes of physical memory:    ",
                            "free physical memory bytes:  ",
                            "bytes of paging file:        ",
                            "free bytes of paging file:   ",
                            "user bytes of address space: ",
                            "free user bytes:             ",
                            "code page:                   "};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string expectedStart = (i < 5 ? std::string(Prefix) : "") + labels[i];
        EXPECT_EQ(lines[i].rfind(expectedStart, 0), 0u) << lines[i];
    }
    const SystemFacts& facts = report.facts();
    EXPECT_GE(facts.processorCount, 1u);
    EXPECT_FALSE(facts.processorText.empty());
    EXPECT_GT(facts.totalPhysical, 0u);
    EXPECT_LE(facts.availablePhysical, facts.totalPhysical);
    EXPECT_LE(facts.memoryLoad, 100u);
    EXPECT_LE(facts.availablePaging, facts.totalPaging);
    EXPECT_GT(facts.totalVirtual, 0u);
    EXPECT_LT(facts.availableVirtual, facts.totalVirtual);
}

TEST(SystemFactsTest, ArchitectureNumbers)
{
    EXPECT_EQ(SystemFacts::architectureNumber("x86_64"), 9u);
    EXPECT_EQ(SystemFacts::architectureNumber("aarch64"), 12u);
    EXPECT_EQ(SystemFacts::architectureNumber("i686"), 0u);
    EXPECT_EQ(SystemFacts::architectureNumber("i386"), 0u);
    EXPECT_EQ(SystemFacts::architectureNumber("armv7l"), 5u);
    EXPECT_EQ(SystemFacts::architectureNumber("riscv64"), 0xFFFFu);
    EXPECT_EQ(SystemFacts::architectureNumber("i6860"), 0xFFFFu);
}

TEST(SystemFactsTest, ProcessorText)
{
    const auto x86 = [](std::string family) {
        return SystemFacts::processorTextFrom(
            "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: " + family +
                "\nmodel name\t: Pentium\n",
            SystemFacts::ArchitectureIntel);
    };
    EXPECT_EQ(x86("3"), "PROCESSOR_INTEL_386");
    EXPECT_EQ(x86("4"), "PROCESSOR_INTEL_486");
    EXPECT_EQ(x86("5"), "PROCESSOR_INTEL_PENTIUM");
    EXPECT_EQ(x86("6"), "Unknown: 6");
    EXPECT_EQ(SystemFacts::processorTextFrom("", SystemFacts::ArchitectureIntel), "Unknown");

    EXPECT_EQ(SystemFacts::processorTextFrom(
                  "processor\t: 0\nmodel name\t: AMD EPYC 7B13  \nflags\t\t: fpu\n",
                  SystemFacts::ArchitectureAmd64),
              "AMD EPYC 7B13");
    // Older ARM kernels have no "model name" but a "Processor" line.
    EXPECT_EQ(SystemFacts::processorTextFrom("Processor\t: ARMv7 rev 4 (v7l)\n",
                                             SystemFacts::ArchitectureArm),
              "ARMv7 rev 4 (v7l)");
    EXPECT_EQ(SystemFacts::processorTextFrom("processor\t: 0\nBogoMIPS\t: 48.00\n",
                                             SystemFacts::ArchitectureArm64),
              "Unknown");
}

TEST(SystemFactsTest, CodePageNames)
{
    EXPECT_EQ(SystemFacts::codePageName(1200), "UNICODE");
    EXPECT_EQ(SystemFacts::codePageName(1250), "EASTEUR");
    EXPECT_EQ(SystemFacts::codePageName(1252), "ANSI");
    EXPECT_EQ(SystemFacts::codePageName(932), "JAPAN");
    EXPECT_EQ(SystemFacts::codePageName(65001), "");
}

TEST(SystemFactsTest, AddressSpaceAndKilobyteFields)
{
    const std::string_view maps =
        "55d0c0a00000-55d0c0a21000 r--p 00000000 08:01 1 /usr/bin/quillstream\n"
        "7ffd4a1c2000-7ffd4a1e3000 rw-p 00000000 00:00 0 [stack]\n"
        "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0 [vsyscall]\n";
    EXPECT_EQ(SystemFacts::addressSpaceTop(maps), std::uint64_t(1) << 47);
    EXPECT_EQ(SystemFacts::addressSpaceTop(""), 0u);

    const std::string_view meminfo = "MemTotal:       16314888 kB\nMemAvailable:    9840000 kB\n";
    EXPECT_EQ(SystemFacts::kilobyteField(meminfo, "MemAvailable"), 9840000ll * 1024);
    EXPECT_EQ(SystemFacts::kilobyteField(meminfo, "Mem"), -1);
    EXPECT_EQ(SystemFacts::kilobyteField("VmSize:\tgarbage kB\n", "VmSize"), -1);
}

TEST(ModuleVersionTest, VersionFromFileName)
{
    using V = EnvironmentReport::ModuleVersion;
    struct Row {
        std::string_view name;
        std::optional<V> version;
    };
    const Row rows[] = {
        {"/usr/lib/libfoo.so.1.2.3", V{1, 2, 3, 0}},
        {"libc.so.6", V{6, 0, 0, 0}},
        {"libstdc++.so.6.0.30", V{6, 0, 30, 0}},
        {"libx.so.1.2.3.4.5", V{1, 2, 3, 4}},
        {"libbig.so.4294967295", V{4294967295u, 0, 0, 0}},
        {"libfoo.so", std::nullopt},
        {"libfoo.so.", std::nullopt},
        {"libfoo.so.1.", std::nullopt},
        {"libfoo.so.1..2", std::nullopt},
        {"libfoo.so.1a", std::nullopt},
        {"libhuge.so.4294967296", std::nullopt},
        {"libpython3.11.so", std::nullopt},
        {"/opt/v1.so.2/quillstream", std::nullopt}, // only the file name counts
        {"quillstream_EN.dll", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(EnvironmentReport::versionFromFileName(row.name), row.version) << row.name;
    }
    EXPECT_EQ(EnvironmentReport::versionText(V{1, 2, 3, 0}), "1.2.3.0");
}

TEST_F(EnvironmentReportTest, ModuleLineForAVersionedNameOnly)
{
    const std::string versioned = dir.file("libdemo.so.1.2.3");
    const std::string plain = dir.file("libplain.so");
    const std::string real = dir.file("libreal.so.4.5.6");
    const std::string soname = dir.file("libreal.so.4");
    writeFile(versioned, "");
    writeFile(plain, "");
    writeFile(real, "");
    ASSERT_EQ(::symlink(real.c_str(), soname.c_str()), 0);

    openLog(3);
    report.logModuleVersion(versioned);
    report.logModuleVersion(plain);
    report.logModuleVersion(soname);                   // the file it leads to has the full version
    report.logModuleVersion(dir.file("libgone.so.7")); // no such file
    const std::vector<std::string> expected = {
        std::string(Prefix) + versioned + ": [1.2.3.0]",
        std::string(Prefix) + soname + ": [4.5.6.0]",
    };
    EXPECT_EQ(loggedLines(), expected);
}

struct ModuleListRow {
    std::uint32_t level;
    bool listOn;
    bool listed;
};

class ModuleListTest : public EnvironmentReportTest,
                       public ::testing::WithParamInterface<ModuleListRow> {};

TEST_P(ModuleListTest, ListedOnlyAtLevelThreeWithTheSettingOn)
{
    settings.setBool(Setting::ListLoadedDLLs, GetParam().listOn);
    openLog(GetParam().level);
    report.reportLoadedModules();
    const std::vector<std::string> lines = loggedLines();
    if (!GetParam().listed) {
        EXPECT_TRUE(lines.empty());
        return;
    }
    const std::regex format(std::string(Prefix) + "/\\S+: \\[\\d+\\.\\d+\\.\\d+\\.\\d+\\]");
    bool sawLibc = false;
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, format)) << line;
        sawLibc = sawLibc || line.find("/libc.so.6: [6.") != std::string::npos;
    }
    EXPECT_TRUE(sawLibc) << "libc is loaded into every process";
}

INSTANTIATE_TEST_SUITE_P(LevelsAndSetting, ModuleListTest,
                         ::testing::Values(ModuleListRow{3, true, true},
                                           ModuleListRow{3, false, false},
                                           ModuleListRow{4, true, false},
                                           ModuleListRow{5, true, false},
                                           ModuleListRow{1, true, false}));

} // namespace

#include "resources/VersionInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string narrow(const std::u16string& text)
{
    return std::string(text.begin(), text.end());
}

TEST(VersionInfoTest, FourNumbersWithTheLastPaddedToFourDigits)
{
    struct Row {
        std::uint32_t most;
        std::uint32_t least;
        const char* text;
    };
    for (const Row& row :
         {Row{0x00020001, 0x0000000F, "2.1.0.0015"}, Row{0x00010000, 0x00000000, "1.0.0.0000"},
          Row{0x00010000, 0x00003039, "1.0.0.12345"},
          Row{0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.65535"}}) {
        EXPECT_EQ(narrow(formatFileVersion(row.most, row.least)), row.text);
    }
}

TEST(VersionInfoTest, ProgramVersionIsTheProjectVersion)
{
    // The project version is 1.0.0.1.
    EXPECT_EQ(narrow(fileVersionText()), QUILL_PROJECT_VERSION_TEXT);
    EXPECT_TRUE(VersionInfo().hasVersion());
    // What --version prints is the version the package and the metainfo are built with.
    EXPECT_EQ(narrow(releaseVersionText()), QUILL_PROJECT_VERSION);
}

TEST(VersionInfoTest, ModuleVersionComesFromItsFileName)
{
    struct Row {
        const char* path;
        bool has;
        const char* text;
    };
    for (const Row& row :
         {Row{"/usr/lib/libQt6Core.so.6.4.2", true, "6.4.2.0000"},
          Row{"/lib/x86_64-linux-gnu/libc.so.6", true, "6.0.0.0000"},
          Row{"libz.so.1.2.13.1", true, "1.2.13.0001"},
          Row{"/opt/quillstream/quillstream_EN.dll", false, "65535.65535.65535.65535"},
          Row{"/usr/lib/libfoo.so", false, "65535.65535.65535.65535"},
          Row{"/usr/lib/libfoo.so.6/plugin", false, "65535.65535.65535.65535"}}) {
        const VersionInfo info{std::string(row.path)};
        std::uint32_t most = 0;
        std::uint32_t least = 0;
        info.fileVersion(most, least);
        EXPECT_EQ(info.hasVersion(), row.has) << row.path;
        EXPECT_EQ(narrow(formatFileVersion(most, least)), row.text) << row.path;
    }
}

} // namespace

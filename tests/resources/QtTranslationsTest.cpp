// Qt's own texts follow the package's language: key names in menus and the standard
// dialogs' buttons. Needs Qt's German translations (Debian qt6-translations-l10n).

#include "resources/QtTranslations.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QLibraryInfo>

#include <gtest/gtest.h>

namespace {

QString ctrlO()
{
    return QKeySequence(Qt::CTRL | Qt::Key_O).toString(QKeySequence::NativeText);
}

class QtTranslationsTest : public ::testing::Test {
  protected:
    void TearDown() override { installQtTranslations(QStringLiteral("EN")); }
};

} // namespace

TEST_F(QtTranslationsTest, GermanGivesGermanKeyNamesAndEnglishTakesThemBack)
{
    const QString file = installQtTranslations(QStringLiteral("DE"));
    ASSERT_FALSE(file.isEmpty()) << "qtbase_de.qm missing in "
                                 << QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                                        .toStdString();
    EXPECT_TRUE(file.endsWith(QStringLiteral("qtbase_de.qm"))) << file.toStdString();
    EXPECT_EQ(ctrlO(), QStringLiteral("Strg+O"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QStringLiteral("Abbrechen"));

    // Installing twice keeps one translator, so removing it leaves English.
    installQtTranslations(QStringLiteral("de"));
    EXPECT_TRUE(installQtTranslations(QStringLiteral("EN")).isEmpty());
    EXPECT_EQ(ctrlO(), QStringLiteral("Ctrl+O"));
}

TEST_F(QtTranslationsTest, LanguageWithoutQtFilesLeavesEnglish)
{
    ASSERT_FALSE(installQtTranslations(QStringLiteral("DE")).isEmpty());
    quilltest::TempDir empty;
    EXPECT_TRUE(installQtTranslations(QStringLiteral("DE"), QString::fromStdString(empty.path()))
                    .isEmpty());
    EXPECT_EQ(ctrlO(), QStringLiteral("Ctrl+O")) << "the German translator went with the switch";
    EXPECT_TRUE(installQtTranslations(QStringLiteral("XQ")).isEmpty()) << "no such language";
    EXPECT_TRUE(installQtTranslations(QString()).isEmpty());
}

// The General page inside the real sheet with the real packages: the font dialog that
// chooses font and text colour together, the background colour, the preview and the
// trace-log copy.

#include "dialogs/GeneralPage.h"
#include "dialogs/FontColorDialog.h"
#include "dialogs/SettingsSheet.h"
#include "resources/LanguageResources.h"
#include "settings/SettingsStore.h"
#include "support/PackageFiles.h"
#include "support/TempDir.h"
#include "support/WidgetEvents.h"
#include "view/LogRenderer.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>

using namespace quilltest;

namespace {

void answerColorDialog(const QColor& color, bool accept)
{
    whenModal<QColorDialog>([color, accept](QColorDialog* dialog) {
        dialog->setCurrentColor(color);
        auto* box = dialog->findChild<QDialogButtonBox*>();
        ASSERT_NE(box, nullptr);
        click(box->button(accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel));
    });
}

class GeneralPageTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override
    {
        package = std::make_unique<LoadedPackage>(GetParam());
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
    }
    void TearDown() override { SettingsStore::overrideInstance(nullptr); }

    int runSheet(std::function<void(SettingsSheet*)> act)
    {
        SettingsSheet sheet(9);
        whenModal<SettingsSheet>(std::move(act));
        return sheet.doModal();
    }
    static QWidget* button(SettingsSheet* sheet, int id)
    {
        return LanguageResources::control(sheet->generalPage(), id);
    }
    static void ok(QWidget* dialog) { click(LanguageResources::control<QPushButton>(dialog, 1)); }

    TempDir dir;
    std::unique_ptr<LoadedPackage> package;
    std::unique_ptr<SettingsStore> store;
};

TEST_P(GeneralPageTest, FontDialogChoosesFontAndTextColourTogether)
{
    store->setDword(Setting::TextColor, 0x0000FF00);
    QFont chosen(QStringLiteral("DejaVu Sans Mono"));
    chosen.setPixelSize(15);
    chosen.setWeight(QFont::Bold);
    chosen.setUnderline(true);
    chosen.setStrikeOut(true);
    QFont shown;
    runSheet([&](SettingsSheet* sheet) {
        // Cancel first: nothing changes. The chooser starts at the family the preview
        // draws (the default "Courier New" is substituted; it is not in the list).
        const QString drawn = QFontInfo(sheet->generalPage()->preview()->font()).family();
        whenModal<FontColorDialog>([drawn](FontColorDialog* dialog) {
            EXPECT_EQ(dialog->currentFont().family(), drawn);
            EXPECT_EQ(dialog->currentColor(), QColor(0, 255, 0));
            click(LanguageResources::control<QPushButton>(dialog, 2));
        });
        click(button(sheet, 1017));
        EXPECT_EQ(sheet->generalPage()->textColor(), 0x0000FF00u);

        whenModal<FontColorDialog>([&](FontColorDialog* dialog) {
            dialog->fontChooser()->setCurrentFont(chosen);
            answerColorDialog(QColor(0x12, 0x34, 0x56), true);
            click(dialog->colorButton());
            EXPECT_EQ(dialog->currentColor(), QColor(0x12, 0x34, 0x56));
            ok(dialog);
        });
        click(button(sheet, 1017));
        QPlainTextEdit* preview = sheet->generalPage()->preview();
        shown = preview->font();
        EXPECT_EQ(preview->palette().color(QPalette::Text), QColor(0x12, 0x34, 0x56));
        ok(sheet);
    });
    EXPECT_EQ(shown.family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(shown.pixelSize(), 15);
    EXPECT_EQ(store->dword(Setting::TextColor), 0x00563412u);
    const std::optional<ByteBlock> bytes = store->font(Setting::TextFont);
    ASSERT_TRUE(bytes && bytes->size() == sizeof(LogFontRecord));
    LogFontRecord stored;
    std::memcpy(&stored, bytes->data(), sizeof stored);
    EXPECT_EQ(std::u16string(stored.lfFaceName), u"DejaVu Sans Mono");
    EXPECT_EQ(stored.lfHeight, -15);
    EXPECT_EQ(stored.lfWeight, 700);
    EXPECT_EQ(stored.lfItalic, 0);
    EXPECT_EQ(stored.lfUnderline, 1);
    EXPECT_EQ(stored.lfStrikeOut, 1);
    EXPECT_TRUE(store->boolValue(Setting::IsTextFontSet));
}

// The embedded chooser handles Enter and Escape as the dialog it was made to be; the answer
// must be the whole dialog's, not the chooser's alone (which left an empty window).
TEST_P(GeneralPageTest, EnterAndEscapeInTheFontChooserAnswerTheWholeDialog)
{
    QFont chosen(QStringLiteral("DejaVu Sans Mono"));
    chosen.setPixelSize(17);
    QFont other = chosen;
    other.setPixelSize(25);
    runSheet([&](SettingsSheet* sheet) {
        const auto pressIn = [](FontColorDialog* dialog, const QFont& font, Qt::Key key) {
            dialog->fontChooser()->setCurrentFont(font);
            QListView* families = dialog->fontChooser()->findChildren<QListView*>().value(0);
            ASSERT_NE(families, nullptr);
            families->setFocus();
            QTest::keyClick(families, key);
            EXPECT_FALSE(dialog->isVisible()) << "the whole dialog closes on " << key;
            if (dialog->isVisible()) {
                dialog->reject(); // lets the test go on after the fault
            }
        };
        whenModal<FontColorDialog>(
            [&](FontColorDialog* dialog) { pressIn(dialog, chosen, Qt::Key_Return); });
        click(button(sheet, 1017));
        EXPECT_EQ(sheet->generalPage()->preview()->font().pixelSize(), 17) << "Enter confirms";
        whenModal<FontColorDialog>(
            [&](FontColorDialog* dialog) { pressIn(dialog, other, Qt::Key_Escape); });
        click(button(sheet, 1017));
        EXPECT_EQ(sheet->generalPage()->preview()->font().pixelSize(), 17) << "Escape cancels";
        ok(sheet);
    });
    // A dialog shown again after Enter still has its chooser.
    FontColorDialog dialog;
    dialog.show();
    QListView* families = dialog.fontChooser()->findChildren<QListView*>().value(0);
    ASSERT_NE(families, nullptr);
    families->setFocus();
    QTest::keyClick(families, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    dialog.show();
    EXPECT_TRUE(dialog.fontChooser()->isVisible());
}

TEST_P(GeneralPageTest, FixedPitchFamiliesAreMarked)
{
    FontColorDialog dialog;
    QListView* families = dialog.fontChooser()->findChildren<QListView*>().value(0);
    ASSERT_NE(families, nullptr);
    const QString mark = LanguageResources::current().string(154);
    auto* delegate = qobject_cast<QStyledItemDelegate*>(families->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    const auto shownText = [&](const QString& family) {
        return delegate->displayText(family, QLocale());
    };
    EXPECT_EQ(shownText(QStringLiteral("DejaVu Sans Mono")),
              QStringLiteral("DejaVu Sans Mono") + mark);
    EXPECT_EQ(shownText(QStringLiteral("DejaVu Sans")), QStringLiteral("DejaVu Sans"));
}

TEST_P(GeneralPageTest, UnreadableFontStoresTheViewsDefaultNotGarbage)
{
    store->setBool(Setting::IsTextFontSet, true);
    const std::uint8_t shortBlock[10] = {1, 2, 3};
    store->setBinary(Setting::TextFont, shortBlock, sizeof shortBlock);
    int dpi = 0;
    runSheet([&](SettingsSheet* sheet) {
        dpi = sheet->generalPage()->logicalDpiY();
        ok(sheet);
    });
    const std::optional<ByteBlock> bytes = store->font(Setting::TextFont);
    ASSERT_TRUE(bytes && bytes->size() == sizeof(LogFontRecord));
    const LogFontRecord expected = LogRenderer::defaultFontRecord(dpi);
    EXPECT_EQ(std::memcmp(bytes->data(), &expected, sizeof expected), 0);
}

TEST_P(GeneralPageTest, BackgroundColourOnOkOnly)
{
    store->setDword(Setting::BackgroundColor, 0x00000000);
    runSheet([](SettingsSheet* sheet) {
        answerColorDialog(QColor(200, 0, 0), false);
        click(button(sheet, 1018));
        EXPECT_EQ(sheet->generalPage()->backgroundColor(), 0u);
        answerColorDialog(QColor(0x20, 0x40, 0x60), true);
        click(button(sheet, 1018));
        EXPECT_EQ(sheet->generalPage()->preview()->palette().color(QPalette::Base),
                  QColor(0x20, 0x40, 0x60));
        ok(sheet);
    });
    EXPECT_EQ(store->dword(Setting::BackgroundColor), 0x00604020u);
}

TEST_P(GeneralPageTest, PreviewShowsLocalDateTimeProductAndBothAlphabets)
{
    const QStringList lines = GeneralPage::buildPreviewText().split(u'\n');
    ASSERT_EQ(lines.size(), 4);
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%x ", &local);
    EXPECT_TRUE(lines[0].startsWith(QString::fromLocal8Bit(date))) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Quillstream - 0123456789"));
    EXPECT_EQ(lines[2], QStringLiteral("abcdefgahijklamnopqrstuvwxyz"));
    EXPECT_EQ(lines[3], QStringLiteral("ABCDEFGAHIJKLAMNOPQRSTUVWXYZ"));
}

TEST_P(GeneralPageTest, ShowTraceLogOpensACopyAndNothingWhenTheCopyFails)
{
    ScopedEnv tmp("TMPDIR", dir.path() + "/");
    store->setString(Setting::LogFileName, u""); // the empty name means "Tail.log"
    writeFile(dir.file("Tail.log"), "line 1\r\nline 2\r\n");
    writeFile(dir.file("Tail.log.txt"), "an older, longer copy of the log\n");
    std::vector<QUrl> opened;
    runSheet([&](SettingsSheet* sheet) {
        sheet->generalPage()->setUrlOpener([&](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        click(button(sheet, 1001));
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(dir.file("Tail.log.txt"))));
        EXPECT_EQ(readFile(dir.file("Tail.log.txt")), "line 1\r\nline 2\r\n");

        // A planted link where the copy goes: no copy through it, nothing opened, and a
        // message that says why.
        std::filesystem::remove(dir.file("Tail.log.txt"));
        std::filesystem::create_symlink(dir.file("elsewhere"), dir.file("Tail.log.txt"));
        std::vector<QString> messages;
        const auto answer = [&messages] {
            whenModal<QMessageBox>([&messages](QMessageBox* box) {
                messages.push_back(box->text());
                box->accept();
            });
        };
        answer();
        click(button(sheet, 1001));
        EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere")));
        ASSERT_EQ(messages.size(), 1u) << "the refusal is not silent";
        const LanguageResources& resources = LanguageResources::current();
        const QString copyName = QString::fromStdString(dir.file("Tail.log.txt"));
        EXPECT_EQ(messages[0], resources.format(183, resources.format(184, copyName)));
        // No log at all: the reason is the system's.
        std::filesystem::remove(dir.file("Tail.log"));
        answer();
        click(button(sheet, 1001));
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_TRUE(messages[1].contains(QString::fromStdString(dir.file("Tail.log")) + u':'))
            << messages[1].toStdString();
        EXPECT_EQ(opened.size(), 1u);
        click(LanguageResources::control<QPushButton>(sheet, 2));
    });
}

INSTANTIATE_TEST_SUITE_P(Languages, GeneralPageTest, ::testing::Values("EN", "DE"));

} // namespace

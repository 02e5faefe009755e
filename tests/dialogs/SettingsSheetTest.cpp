// The settings sheet with the real English and German packages, driven by mouse and key
// events through its real widgets: what OK stores, what Cancel leaves, the keyword list's
// selection rules, order and check boxes, the keyword editor and the column widths.

#include "dialogs/SettingsSheet.h"
#include "dialogs/CheckListControl.h"
#include "dialogs/GeneralPage.h"
#include "dialogs/KeywordEditor.h"
#include "dialogs/KeywordsPage.h"
#include "platform/NarrowCodec.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"
#include "support/PackageFiles.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

using namespace quilltest;

namespace {

const std::u16string KeywordsKey = u"Software\\Orix\\Quillstream\\Keywords";

template <typename T = QWidget> T* control(QWidget* form, ControlId id)
{
    T* widget = LanguageResources::control<T>(form, id);
    EXPECT_NE(widget, nullptr) << static_cast<int>(id);
    return widget;
}

QRect rowRect(CheckListControl* list, int row, int column)
{
    return list->visualRect(list->model()->index(row, column));
}

void clickRow(CheckListControl* list, int row)
{
    click(list->viewport(), rowRect(list, row, 1).center());
}

void clickRowCheck(CheckListControl* list, int row, int column = 0)
{
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = rowRect(list, row, column);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect check =
        list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    click(list->viewport(), check.center());
}

class SettingsSheetTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override
    {
        package = std::make_unique<LoadedPackage>(GetParam());
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
    }
    void TearDown() override { SettingsStore::overrideInstance(nullptr); }

    void storeKeywords(const std::vector<Keyword>& list) { store->saveKeywords(list); }
    std::vector<Keyword> storedKeywords() const
    {
        std::vector<Keyword> list;
        store->loadKeywords(list);
        return list;
    }
    static std::vector<Keyword> abc()
    {
        return {Keyword(u"ERROR", 0xFFFFFF, 0x0000C0, true, false, true),
                Keyword(u"WARN", 0x000000, 0x00FFFF, false, true, true),
                Keyword(u"debug", 0x808080, 0x000000, false, false, false)};
    }

    // Runs the sheet; act runs inside its modal loop and must close it.
    int runSheet(std::function<void(SettingsSheet*)> act)
    {
        SettingsSheet sheet(StringId::SettingsCaption);
        sheet.resize(640, 480);
        whenModal<SettingsSheet>(std::move(act));
        return sheet.doModal();
    }

    static void showKeywordsTab(SettingsSheet* sheet)
    {
        QTabBar* bar = sheet->tabs()->tabBar();
        click(bar, bar->tabRect(1).center());
        ASSERT_EQ(sheet->tabs()->currentIndex(), 1);
    }
    // The text a test expects, as the package of the language under test writes it.
    static QString inLanguage(const QString& english, const QString& german)
    {
        return std::string_view(GetParam()) == "DE" ? german : english;
    }
    static QWidget* keywordsPage(SettingsSheet* sheet) { return sheet->keywordsPage(); }
    static CheckListControl* list(SettingsSheet* sheet) { return sheet->keywordsPage()->list(); }
    static void ok(QWidget* dialog)
    {
        click(LanguageResources::control<QPushButton>(dialog, ControlId::Ok));
    }
    static void cancel(QWidget* dialog)
    {
        click(LanguageResources::control<QPushButton>(dialog, ControlId::Cancel));
    }

    TempDir dir;
    std::unique_ptr<LoadedPackage> package;
    std::unique_ptr<SettingsStore> store;
};

TEST_P(SettingsSheetTest, OkWithoutChangesKeepsEveryValueAndNormalisesTheLogLevel)
{
    struct Row {
        std::uint32_t logLevel;
        bool showKeywords;
        std::uint32_t storedLevel;
    };
    for (const Row& row : {Row{4, true, 3}, Row{0, false, 1}, Row{1, true, 1}}) {
        SCOPED_TRACE(row.logLevel);
        LogFontRecord font;
        font.lfHeight = -17;
        font.lfWeight = 700;
        font.lfItalic = 1;
        std::memcpy(font.lfFaceName, u"Liberation Mono", sizeof(u"Liberation Mono"));
        store->setFont(Setting::TextFont, font);
        store->setBool(Setting::IsTextFontSet, true);
        store->setDword(Setting::TextColor, 0x00112233);
        store->setDword(Setting::BackgroundColor, 0x00445566);
        store->setBool(Setting::TopMost, true);
        store->setBool(Setting::ShowLastViewedFile, false);
        store->setBool(Setting::ShowEmptyFiles, true);
        store->setDword(Setting::LogLevel, row.logLevel);
        storeKeywords(abc());
        store->setBool(Setting::Beep, true);
        store->setBool(Setting::PlaySound, false);
        store->setString(Setting::Sound, u"/usr/share/sounds/a b.oga");

        const int result = runSheet([&](SettingsSheet* sheet) {
            EXPECT_EQ(control<QCheckBox>(sheet->generalPage(), ControlId::GeneralDetailedLogging)
                          ->isChecked(),
                      row.logLevel > 1);
            if (row.showKeywords) {
                showKeywordsTab(sheet);
                EXPECT_EQ(list(sheet)->rowCount(), 3);
            }
            ok(sheet);
        });
        EXPECT_EQ(result, SettingsSheet::IDOK);
        const std::optional<ByteBlock> bytes = store->font(Setting::TextFont);
        ASSERT_TRUE(bytes && bytes->size() == sizeof font);
        EXPECT_EQ(std::memcmp(bytes->data(), &font, sizeof font), 0);
        EXPECT_EQ(store->dword(Setting::TextColor), 0x00112233u);
        EXPECT_EQ(store->dword(Setting::BackgroundColor), 0x00445566u);
        EXPECT_TRUE(store->boolValue(Setting::TopMost));
        EXPECT_FALSE(store->boolValue(Setting::ShowLastViewedFile));
        EXPECT_TRUE(store->boolValue(Setting::ShowEmptyFiles));
        EXPECT_EQ(store->dword(Setting::LogLevel), row.storedLevel);
        EXPECT_EQ(storedKeywords(), abc());
        EXPECT_TRUE(store->boolValue(Setting::Beep));
        EXPECT_FALSE(store->boolValue(Setting::PlaySound));
        EXPECT_EQ(store->string(Setting::Sound), u"/usr/share/sounds/a b.oga");
    }
}

TEST_P(SettingsSheetTest, KeywordsPageNeverShownStoresNothing)
{
    // loadKeywords reads a subkey of any name, saveKeywords would renumber it to "1".
    store->writeStringAt(KeywordsKey + u"\\7", u"SearchString", u"kept");
    runSheet([](SettingsSheet* sheet) { ok(sheet); });
    std::vector<std::u16string> names;
    store->enumSubkeyNames(Setting::KeyKeywords, names);
    EXPECT_EQ(names, std::vector<std::u16string>{u"7"});
    EXPECT_EQ(readFile(dir.file("user.reg")).find("ColumnWidth"), std::string::npos);
}

TEST_P(SettingsSheetTest, CancelStoresOnlyTheColumnWidths)
{
    storeKeywords(abc());
    store->setBool(Setting::TopMost, false);
    store->setDword(Setting::BackgroundColor, 0x00010203);
    const std::string before = readFile(dir.file("user.reg"));
    int draggedTo = 0;
    const int result = runSheet([&](SettingsSheet* sheet) {
        clickCheckBox(control<QCheckBox>(sheet->generalPage(), ControlId::GeneralTopMost));
        showKeywordsTab(sheet);
        clickRowCheck(list(sheet), 0);
        EXPECT_FALSE(list(sheet)->keywordAt(0)->enabled);
        clickRow(list(sheet), 2);
        click(control(keywordsPage(sheet), ControlId::KeywordsDelete));
        // Drag the border of the keyword column 25 pixels to the right.
        QHeaderView* header = list(sheet)->header();
        const int edge = header->sectionViewportPosition(1) + header->sectionSize(1) - 1;
        const int y = header->height() / 2;
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + 10, y));
        QTest::mouseMove(header->viewport(), QPoint(edge + 25, y));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 25, y));
        draggedTo = header->sectionSize(1);
        cancel(sheet);
    });
    EXPECT_EQ(result, SettingsSheet::IDCANCEL);
    EXPECT_EQ(draggedTo, 134 + 25);
    EXPECT_EQ(store->dword(Setting::ColumnWidthKeyword), std::uint32_t(draggedTo));
    EXPECT_EQ(storedKeywords(), abc());
    EXPECT_FALSE(store->boolValue(Setting::TopMost));
    // Apart from the four widths the hive is as it was.
    std::string after = readFile(dir.file("user.reg"));
    std::string kept;
    for (std::size_t start = 0; start < after.size();) {
        const std::size_t end = after.find('\n', start);
        const std::string line =
            after.substr(start, end == std::string::npos ? end : end - start + 1);
        if (line.find("\"ColumnWidth") == std::string::npos) {
            kept += line;
        }
        start = end == std::string::npos ? after.size() : end + 1;
    }
    EXPECT_EQ(kept, before);
}

TEST_P(SettingsSheetTest, UntickedRowIsStoredDisabled)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        clickRowCheck(list(sheet), 0);
        clickRowCheck(list(sheet), 2); // was off: now on
        ok(sheet);
    });
    std::vector<Keyword> expected = abc();
    expected[0].enabled = false;
    expected[2].enabled = true;
    EXPECT_EQ(storedKeywords(), expected);
}

TEST_P(SettingsSheetTest, DeleteSelectsTheRowAtTheOldIndexOrTheNewLast)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        QWidget* page = keywordsPage(sheet);
        EXPECT_FALSE(control(page, ControlId::KeywordsDelete)->isEnabled())
            << "nothing selected yet";
        clickRow(rows, 2);
        click(control(page, ControlId::KeywordsDelete));
        EXPECT_EQ(rows->rowCount(), 2);
        EXPECT_EQ(rows->selectedRow(), 1);
        EXPECT_EQ(rows->window()->focusWidget(), rows);
        clickRow(rows, 0);
        click(control(page, ControlId::KeywordsDelete));
        EXPECT_EQ(rows->selectedRow(), 0);
        EXPECT_EQ(quill::toU16(rows->topLevelItem(0)->text(1)), u"WARN");
        click(control(page, ControlId::KeywordsDelete));
        EXPECT_EQ(rows->rowCount(), 0);
        EXPECT_FALSE(control(page, ControlId::KeywordsDelete)->isEnabled());
        EXPECT_FALSE(control(page, ControlId::KeywordsEdit)->isEnabled());
        ok(sheet);
    });
    EXPECT_TRUE(storedKeywords().empty());
}

TEST_P(SettingsSheetTest, NewKeywordWithoutColourChangesIsWhiteOnRed)
{
    storeKeywords({abc()[0]});
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            EXPECT_FALSE(
                control<QCheckBox>(editor, ControlId::KeywordEditorMatchCase)->isChecked());
            EXPECT_FALSE(
                control<QCheckBox>(editor, ControlId::KeywordEditorMatchWord)->isChecked());
            QTest::keyClicks(control(editor, ControlId::KeywordEditorText),
                             QStringLiteral("FATAL"));
            auto* preview = control<QLineEdit>(editor, ControlId::KeywordEditorPreview);
            EXPECT_EQ(preview->text(), QStringLiteral("FATAL"));
            EXPECT_EQ(preview->palette().color(QPalette::Base), QColor(255, 0, 0));
            EXPECT_EQ(preview->palette().color(QPalette::Text), QColor(255, 255, 255));
            ok(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsAdd));
        ASSERT_EQ(list(sheet)->rowCount(), 2);
        QTreeWidgetItem* added = list(sheet)->topLevelItem(1);
        EXPECT_EQ(added->background(1).color(), QColor(255, 0, 0));
        EXPECT_EQ(added->checkState(0), Qt::Checked);
        // An editor that returns no text adds nothing.
        whenModal<KeywordEditor>([](KeywordEditor* editor) { ok(editor); });
        click(control(keywordsPage(sheet), ControlId::KeywordsAdd));
        EXPECT_EQ(list(sheet)->rowCount(), 2);
        ok(sheet);
    });
    const std::vector<Keyword> stored = storedKeywords();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1], Keyword(u"FATAL", 0x00FFFFFF, 0x000000FF, false, false, true));
}

TEST_P(SettingsSheetTest, ColourOnlyTheMatchIsTickedAndStoredPerKeyword)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        clickRow(rows, 1);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            auto* tick = control<QCheckBox>(editor, ControlId::KeywordEditorMatchOnly);
            ASSERT_NE(tick, nullptr);
            EXPECT_FALSE(tick->isChecked());
            clickCheckBox(tick);
            ok(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));
        ok(sheet);
    });
    std::vector<Keyword> want = abc();
    want[1].matchOnly = true;
    EXPECT_EQ(storedKeywords(), want);
    // Edited again, the editor shows it ticked.
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        clickRow(list(sheet), 1);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            EXPECT_TRUE(control<QCheckBox>(editor, ControlId::KeywordEditorMatchOnly)->isChecked());
            cancel(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));
        ok(sheet);
    });
}

TEST_P(SettingsSheetTest, MatchCaseAndWholeWordColumnsSayYesOrNoForEachKeyword)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        const QString yes = inLanguage(QStringLiteral("Yes"), QStringLiteral("Ja"));
        const QString no = inLanguage(QStringLiteral("No"), QStringLiteral("Nein"));
        // ERROR matches case only, WARN whole words only, debug neither.
        const QString expected[3][2] = {{yes, no}, {no, yes}, {no, no}};
        for (int row = 0; row < 3; ++row) {
            ASSERT_NE(rows->topLevelItem(row), nullptr);
            EXPECT_EQ(rows->topLevelItem(row)->text(2), expected[row][0]) << row;
            EXPECT_EQ(rows->topLevelItem(row)->text(3), expected[row][1]) << row;
        }
        cancel(sheet);
    });
}

TEST_P(SettingsSheetTest, ColourOnlyTheMatchHasAColumnOfItsOwnTickedInTheList)
{
    std::vector<Keyword> stored = abc();
    stored[2].matchOnly = true;
    storeKeywords(stored);
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        EXPECT_EQ(rows->columnCount(), 5);
        if (rows->columnCount() != 5) {
            cancel(sheet);
            return;
        }
        EXPECT_EQ(rows->headerItem()->text(4), inLanguage(QStringLiteral("Colour match only"),
                                                          QStringLiteral("Nur Treffer färben")));
        EXPECT_GT(rows->columnWidth(4), 0);
        EXPECT_EQ(rows->topLevelItem(1)->checkState(4), Qt::Unchecked);
        EXPECT_EQ(rows->topLevelItem(2)->checkState(4), Qt::Checked);
        clickRowCheck(rows, 1, 4);
        clickRowCheck(rows, 2, 4);
        EXPECT_EQ(rows->topLevelItem(1)->checkState(0), Qt::Checked) << "enabled as it was";
        // The editor opened afterwards shows what the list says.
        clickRow(rows, 1);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            EXPECT_TRUE(control<QCheckBox>(editor, ControlId::KeywordEditorMatchOnly)->isChecked());
            cancel(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));
        ok(sheet);
    });
    std::vector<Keyword> want = abc();
    want[1].matchOnly = true;
    EXPECT_EQ(storedKeywords(), want);
}

TEST_P(SettingsSheetTest, EditorCancelAndEmptyTextChangeNothing)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        clickRow(rows, 1);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            EXPECT_EQ(control<QLineEdit>(editor, ControlId::KeywordEditorText)->text(),
                      QStringLiteral("WARN"));
            EXPECT_TRUE(control<QCheckBox>(editor, ControlId::KeywordEditorMatchWord)->isChecked());
            QTest::keyClicks(control(editor, ControlId::KeywordEditorText), QStringLiteral("ING"));
            clickCheckBox(control<QCheckBox>(editor, ControlId::KeywordEditorMatchCase));
            cancel(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));
        EXPECT_EQ(rows->selectedRow(), 1) << "rows refilled, selection kept";
        // Double-click edits too; emptied text changes nothing.
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            control<QLineEdit>(editor, ControlId::KeywordEditorText)->selectAll();
            QTest::keyClick(control(editor, ControlId::KeywordEditorText), Qt::Key_Delete);
            ok(editor);
        });
        QTest::mouseDClick(rows->viewport(), Qt::LeftButton, {}, rowRect(rows, 1, 1).center());
        ok(sheet);
    });
    EXPECT_EQ(storedKeywords(), abc());
}

TEST_P(SettingsSheetTest, MoveUpAndDownChangeTheStoredOrder)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        QWidget* page = keywordsPage(sheet);
        clickRow(rows, 0);
        EXPECT_FALSE(control(page, ControlId::KeywordsMoveUp)->isEnabled());
        EXPECT_TRUE(control(page, ControlId::KeywordsMoveDown)->isEnabled());
        click(control(page, ControlId::KeywordsMoveDown)); // ERROR goes down: WARN ERROR debug
        EXPECT_EQ(rows->selectedRow(), 1);
        click(control(page, ControlId::KeywordsMoveDown)); // WARN debug ERROR
        EXPECT_EQ(rows->selectedRow(), 2);
        EXPECT_FALSE(control(page, ControlId::KeywordsMoveDown)->isEnabled());
        clickRow(rows, 1);
        click(control(page, ControlId::KeywordsMoveUp)); // debug WARN ERROR
        EXPECT_EQ(rows->selectedRow(), 0);
        ok(sheet);
    });
    const std::vector<Keyword> list = abc();
    EXPECT_EQ(storedKeywords(), (std::vector<Keyword>{list[2], list[1], list[0]}));
}

TEST_P(SettingsSheetTest, StoredWidthMinusOneGivesAnEqualShareOfTheList)
{
    for (SettingId id :
         {Setting::ColumnWidthEnable, Setting::ColumnWidthKeyword, Setting::ColumnWidthMatchCase,
          Setting::ColumnWidthMatchWord, Setting::ColumnWidthMatchOnly}) {
        store->setDword(id, 0xFFFFFFFF);
    }
    store->setDword(Setting::ColumnWidthKeyword, 77);
    // Wider than any screen: a damaged value, shown at the default width.
    store->setDword(Setting::ColumnWidthMatchCase, 65536);
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        const int share = rows->width() / 5;
        EXPECT_GT(share, 20);
        EXPECT_EQ(rows->columnWidth(0), share);
        EXPECT_EQ(rows->columnWidth(1), 77);
        EXPECT_EQ(rows->columnWidth(2), share);
        EXPECT_EQ(rows->columnWidth(3), share);
        EXPECT_EQ(rows->columnWidth(4), std::max(share - 3, rows->header()->sectionSizeHint(4)))
            << "the last column, widened to its header";
        cancel(sheet);
    });
    EXPECT_EQ(store->dword(Setting::ColumnWidthKeyword), 77u);
    EXPECT_NE(store->dword(Setting::ColumnWidthEnable), 0xFFFFFFFFu);
}

// Records what it was asked to play and whether the play button was usable meanwhile.
class RecordingSound : public SoundService {
  public:
    void playSoundFile(const std::u16string& path) override
    {
        played.push_back(path);
        buttonEnabledWhilePlaying = button && button->isEnabled();
    }
    void beep() override {}
    std::vector<std::u16string> played;
    QWidget* button = nullptr;
    bool buttonEnabledWhilePlaying = true;
};

TEST_P(SettingsSheetTest, BrowseAndPlayTheSoundFile)
{
    RecordingSound sound;
    QString title;
    QString folder;
    QStringList filters;
    SettingsSheet sheet(StringId::SettingsCaption);
    sheet.setSoundService(&sound);
    whenModal<SettingsSheet>([&](SettingsSheet* shown) {
        showKeywordsTab(shown);
        QWidget* page = keywordsPage(shown);
        shown->keywordsPage()->setFileChooser(
            [&](const QString& t, const QString& f, const QStringList& list) {
                title = t;
                folder = f;
                filters = list;
                return QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga");
            });
        click(control(page, ControlId::KeywordsBrowse));
        EXPECT_EQ(control<QLineEdit>(page, ControlId::KeywordsSoundFile)->text(),
                  QStringLiteral("/usr/share/sounds/freedesktop/stereo/bell.oga"));
        sound.button = control(page, ControlId::KeywordsPlay);
        click(control(page, ControlId::KeywordsPlay));
        EXPECT_TRUE(control(page, ControlId::KeywordsPlay)->isEnabled());
        clickCheckBox(control<QCheckBox>(page, ControlId::KeywordsPlaySound));
        ok(shown);
    });
    sheet.doModal();
    EXPECT_EQ(title, inLanguage(QStringLiteral("Open"), QStringLiteral("Öffnen")));
    EXPECT_EQ(folder, QStringLiteral("/usr/share/sounds"));
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0], inLanguage(QStringLiteral("Sound files (*.wav *.oga *.ogg)"),
                                     QStringLiteral("Klangdateien (*.wav *.oga *.ogg)")));
    EXPECT_TRUE(filters[1].endsWith(QStringLiteral("(*)"))) << filters[1].toStdString();
    ASSERT_EQ(sound.played.size(), 1u);
    EXPECT_EQ(sound.played[0], u"/usr/share/sounds/freedesktop/stereo/bell.oga");
    EXPECT_FALSE(sound.buttonEnabledWhilePlaying);
    EXPECT_EQ(store->string(Setting::Sound), u"/usr/share/sounds/freedesktop/stereo/bell.oga");
    EXPECT_TRUE(store->boolValue(Setting::PlaySound));
}

// Widths nobody chose (the table's defaults, -1, a damaged 0) fit their headers in a large
// font; a width the user dragged stays even when narrower than its header.
TEST_P(SettingsSheetTest, ColumnsNobodySizedFitTheirHeadersAndAZeroWidthIsDamaged)
{
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSize(14);
    QApplication::setFont(large);
    store->setDword(Setting::ColumnWidthMatchWord, 0);
    store->setDword(Setting::ColumnWidthKeyword, 60);
    std::vector<int> widths;
    std::vector<int> needed;
    runSheet([&](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        const QFontMetrics metrics(rows->header()->font());
        for (int column = 0; column < 4; ++column) {
            widths.push_back(rows->columnWidth(column));
            needed.push_back(metrics.horizontalAdvance(rows->headerItem()->text(column)));
        }
        cancel(sheet);
    });
    QApplication::setFont(before);
    ASSERT_EQ(widths.size(), 4u);
    EXPECT_GE(widths[0], needed[0]) << "table default 20";
    EXPECT_EQ(widths[1], 60) << "a width the user chose, though narrower than " << needed[1];
    EXPECT_GE(widths[2], needed[2]) << "table default 73";
    EXPECT_GE(widths[3], needed[3]) << "stored 0";
    EXPECT_GT(store->dword(Setting::ColumnWidthMatchWord), 0u);
}

TEST_P(SettingsSheetTest, DelDeletesTheSelectedKeyword)
{
    storeKeywords(abc());
    runSheet([](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        QTest::keyClick(rows, Qt::Key_Delete); // nothing selected: nothing deleted
        EXPECT_EQ(rows->rowCount(), 3);
        clickRow(rows, 1);
        QTest::keyClick(rows, Qt::Key_Delete);
        EXPECT_EQ(rows->rowCount(), 2);
        EXPECT_EQ(rows->selectedRow(), 1);
        ok(sheet);
    });
    const std::vector<Keyword> list = abc();
    EXPECT_EQ(storedKeywords(), (std::vector<Keyword>{list[0], list[2]}));
}

// Under an 8-bit locale the sheet stores what it read, never the locale's reading of it.
TEST_P(SettingsSheetTest, KeywordsOutsideAnEightBitSetSurviveOkWithoutChanges)
{
    const std::u16string text = u"x\U0001F600y\u20AC";
    storeKeywords({Keyword(text, 0xFFFFFF, 0x0000C0, true, false, true)});
    quill::setNarrowCharsetForTesting("ISO-8859-1");
    QString shown;
    runSheet([&](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        shown = list(sheet)->topLevelItem(0)->text(1);
        clickRow(list(sheet), 0);
        whenModal<KeywordEditor>([](KeywordEditor* editor) { ok(editor); });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));
        ok(sheet);
    });
    const std::vector<Keyword> stored = storedKeywords();
    quill::setNarrowCharsetForTesting("UTF-8");
    EXPECT_EQ(quill::toU16(shown), text);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].text, text);
}

// A keyword past what a line edit holds: a stored one comes back whole from an editor
// confirmed without changes and shows elided in its row; a pasted one is refused with a
// message and the field keeps what it had.
TEST_P(SettingsSheetTest, AnOverlongKeywordIsKeptWholeOrRefusedWithAMessage)
{
    const std::u16string huge = std::u16string(40000, u'k') + u"END";
    storeKeywords({Keyword(huge, 0xFFFFFF, 0x0000C0, true, false, true)});
    QString message;
    qsizetype shownLength = 0;
    runSheet([&](SettingsSheet* sheet) {
        showKeywordsTab(sheet);
        CheckListControl* rows = list(sheet);
        shownLength = rows->topLevelItem(0)->text(1).size();
        clickRow(rows, 0);
        whenModal<KeywordEditor>([](KeywordEditor* editor) {
            clickCheckBox(control<QCheckBox>(editor, ControlId::KeywordEditorMatchWord));
            ok(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsEdit));

        whenModal<KeywordEditor>([&](KeywordEditor* editor) {
            auto* field = control<QLineEdit>(editor, ControlId::KeywordEditorText);
            QTest::keyClicks(field, QStringLiteral("ab"));
            whenModal<QMessageBox>([&](QMessageBox* box) {
                message = box->text();
                box->accept();
            });
            // Up to the limit exactly: taken, without a message.
            QGuiApplication::clipboard()->setText(QString(KeywordEditor::MaxTextLength - 2, u'p'));
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            EXPECT_EQ(field->text().size(), KeywordEditor::MaxTextLength);
            EXPECT_TRUE(message.isEmpty());
            // One past it: refused with a message.
            QGuiApplication::clipboard()->setText(QStringLiteral("q"));
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
            EXPECT_EQ(field->text().size(), KeywordEditor::MaxTextLength)
                << "the field keeps what it held";
            ok(editor);
        });
        click(control(keywordsPage(sheet), ControlId::KeywordsAdd));
        ok(sheet);
    });
    EXPECT_LT(shownLength, 1000) << "the row shows a prefix, not the whole text";
    EXPECT_TRUE(message.contains(QLocale().toString(KeywordEditor::MaxTextLength)))
        << message.toStdString();
    const std::vector<Keyword> stored = storedKeywords();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].text, huge);
    EXPECT_TRUE(stored[0].matchWord);
    EXPECT_EQ(stored[1].text,
              u"ab" + std::u16string(std::size_t(KeywordEditor::MaxTextLength - 2), u'p'));
}

INSTANTIATE_TEST_SUITE_P(Languages, SettingsSheetTest, ::testing::Values("EN", "DE"));

} // namespace

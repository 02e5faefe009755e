#include "resources/LanguageResources.h"

#include "support/PackageFiles.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>

using namespace quilltest;

namespace {

// Each string the program asks for, with the inserts its text must carry.
const std::map<int, QStringList> s_strings = {
    {2, {}}, {3, {}}, {4, {}}, {5, {"%1"}}, {6, {}}, {7, {}}, {8, {"%1", "%2"}}, {9, {}},
    {128, {}}, {130, {}}, {131, {}}, {133, {}}, {134, {"%1"}}, {135, {"%1", "%2", "%3"}},
    {136, {"%1"}}, {138, {}}, {139, {}}, {141, {}}, {143, {}}, {144, {}}, {145, {}},
    {146, {}}, {147, {}}, {148, {}}, {149, {}}, {150, {}}, {151, {}}, {152, {}}, {153, {}},
    {154, {}}, {155, {}}, {156, {}}, {61440, {}}, {61442, {}},
    {190, {}}, {300, {}},
    {450, {}}, {451, {"%1"}}, // the encoding pane
    {500, {}}, {501, {}}, {502, {"%1"}}, {503, {"%1"}}, {504, {}}, {505, {"%1"}}, {506, {"%1"}},
    {507, {}}, {508, {"%1", "%2"}}, {509, {"%1"}}, // times of lines
    {360, {}}, {361, {}}, {362, {"%1"}}, // the filter pane's Marks
    {670, {}}, {671, {}}, {672, {}}, {673, {}}, {674, {}}, {675, {"%1"}}, {676, {}}, {677, {}},
    {678, {}}, {679, {}}, {680, {"%1", "%2", "%3"}}, {681, {}}, {682, {}}, {683, {}}, {684, {}},
    {685, {}}, {686, {}}, {687, {}}, {688, {}}, {689, {"%1"}}, // File > Follow Remote File
    {740, {"%1", "%2"}}, {741, {"%1"}}, {742, {}}, {743, {}}, {744, {}}, {745, {"%1", "%2"}},
    {746, {"%1", "%2"}}, {747, {"%1"}}, {748, {"%1"}}, {749, {}}, {750, {}}, {751, {"%1"}}, {752, {}}, {753, {"%1"}}, {880, {"%1", "%2"}}, // rotated sets, ssh
    {700, {}}, {701, {"%1"}}, {702, {"%1"}}, {703, {}}, // Open Merged
    {850, {}}, {851, {}}, {852, {"%1"}}, {853, {}}, // Follow Remote Files Merged
    {610, {}}, {611, {"%1"}}, {612, {"%1"}}, {613, {"%1"}}, {614, {"%1", "%2", "%3"}},
    {615, {}}, {616, {"%1"}}, {617, {"%1"}}, {620, {}}, {621, {}}, {622, {}}, {623, {}},
    {624, {}}, {625, {}}, {626, {}}, {627, {}}, {628, {"%1"}}, {629, {"%1"}}, // Line Details
    {570, {}}, {571, {}}, {572, {"%1"}}, {573, {"%1"}}, {574, {"%1"}}, {575, {"%1"}}, {576, {}},
    {577, {"%1", "%2"}}, {578, {"%1"}}, {579, {"%1"}}, {580, {"%1", "%2"}}, {581, {}},
    {582, {}}, // File > Save Lines As
    {630, {}}, {631, {}}, {632, {"%1", "%2"}}, {633, {"%1", "%2", "%3"}},
    {634, {"%1", "%2", "%3"}}, {635, {"%1", "%2", "%3"}}, {636, {}}, {637, {}},
    {638, {}}, // Find in All Tabs
    {590, {}}, {591, {}}, {592, {}}, {593, {}}, {594, {}}, {595, {}}, {596, {}},
    {597, {"%1", "%2"}}, {598, {"%1", "%2", "%3"}}, {599, {}}, // notes on marks, kept marks
};

// The commands menus, toolbar and accelerators may send.
const std::set<int> s_commands = {32772, 32774, 32775, 32782, 32783, 32791, 32793, 32795,
                                 32801, 32803, 57600, 57601, 57616, 57634, 57636, 57664, 57665,
                                 59392, 59393, 33000, 33001, 33002, 33003, 33004, 33005,
                                 33006, 33007, 33008, 33009, 33010, 33011,
                                 // navigation
                                 33050, 33051, 33052, 33053, 33054, 33055, 33056, 33057, 33058,
                                 // View > Timeline, View > Line Details
                                 33230, 33260,
                                 // View > Marks, Edit > Note on Mark
                                 33250, 33251,
                                 // View > Wrap Long Lines, View > Terminal Colours,
                                 // View > Show Control Characters, View > Encoding
                                 33160, 33150, 33170, 33151, 33152, 33153, 33154, 33155, 33156, 33157, 33158,
                                 // File > Follow Command..., File > Follow System Journal,
                                 // File > Follow Remote File...
                                 33100, 33101, 33290,
                                 // File > Add Rotated Files
                                 33320,
                                 // Edit > Go to Time...
                                 33200,
                                 // File > Save Lines As...
                                 33240,
                                 // Edit > Find in All Tabs...
                                 33270,
                                 // View > Only Filtered Lines
                                 33280,
                                 // File > Open Merged..., View > Source Names
                                 33300, 33301,
                                 // File > Follow Remote Files Merged...
                                 33345};

enum class Kind { Label, Button, Check, Edit, MultiLineEdit, List, ToolButton };

struct Control {
    int id;
    Kind kind;
};

// Each dialog template with the controls its dialog or page uses.
const std::map<int, std::vector<Control>> s_dialogs = {
    {100, {{1002, Kind::Label}, {1003, Kind::Label}, {1004, Kind::Label}, {1005, Kind::Label},
           {1, Kind::Button}}},
    {135, {{1006, Kind::Check}, {1007, Kind::Label}, {1, Kind::Button}, {2, Kind::Button}}},
    {143, {{1000, Kind::Check}, {1001, Kind::Button}, {1017, Kind::Button}, {1018, Kind::Button},
           {1024, Kind::MultiLineEdit}, {1027, Kind::Check}, {1028, Kind::Check},
           {1029, Kind::Check}}},
    {144, {{1015, Kind::List}, {1016, Kind::Button}, {1017, Kind::Button}, {1019, Kind::Button},
           {1028, Kind::Check}, {1029, Kind::Check}, {1030, Kind::Edit}, {1031, Kind::Button},
           {1032, Kind::ToolButton}, {1033, Kind::Button}, {1034, Kind::Button}}},
    {145, {{1020, Kind::Edit}, {1021, Kind::Check}, {1022, Kind::Check}, {1024, Kind::Label},
           {1025, Kind::Label}, {1026, Kind::Button}, {1027, Kind::Edit}, {1028, Kind::Button},
           {1029, Kind::Check}, {1, Kind::Button}, {2, Kind::Button}}},
};

bool isKind(QWidget* w, Kind kind)
{
    switch (kind) {
    case Kind::Label: return qobject_cast<QLabel*>(w);
    case Kind::Button: return qobject_cast<QAbstractButton*>(w) && !qobject_cast<QCheckBox*>(w);
    case Kind::Check: return qobject_cast<QCheckBox*>(w);
    case Kind::Edit: return qobject_cast<QLineEdit*>(w);
    case Kind::MultiLineEdit: return qobject_cast<QPlainTextEdit*>(w);
    case Kind::List: return qobject_cast<QTreeWidget*>(w);
    case Kind::ToolButton: return qobject_cast<QToolButton*>(w);
    }
    return false;
}

QStringList inserts(const QString& text)
{
    QStringList found;
    auto it = QRegularExpression(QStringLiteral("%\\d+")).globalMatch(text);
    while (it.hasNext()) {
        found.append(it.next().captured());
    }
    found.sort();
    found.removeDuplicates();
    return found;
}

// The mnemonic letter of a text ('&' before it; "&&" is a plain ampersand), lower-cased;
// a null QChar when it has none.
QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&') {
            continue;
        }
        if (text[i + 1] == u'&') {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return {};
}

// Every text in the list whose mnemonic another text already took, as "letter: first /
// second"; empty when all are unique.
QStringList mnemonicClashes(const QStringList& texts)
{
    std::map<QChar, QString> taken;
    QStringList clashes;
    for (const QString& text : texts) {
        const QChar letter = mnemonicOf(text);
        if (letter.isNull()) {
            continue;
        }
        const auto [it, inserted] = taken.emplace(letter, text);
        if (!inserted) {
            clashes.append(QStringLiteral("%1: %2 / %3").arg(letter, it->second, text));
        }
    }
    return clashes;
}

std::vector<std::string> languageCodes()
{
    std::vector<std::string> codes;
    for (const QString& code : QStringLiteral(QUILL_LANGUAGE_CODES).split(QLatin1Char(','))) {
        codes.push_back(code.toStdString());
    }
    return codes;
}

class LanguagePackageTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { m_package = std::make_unique<LoadedPackage>(GetParam()); }
    void TearDown() override { m_package.reset(); }

    const LanguageResources& res() const { return LanguageResources::current(); }

    std::unique_ptr<LoadedPackage> m_package;
};

TEST_P(LanguagePackageTest, EveryStringIsThereWithItsInserts)
{
    ASSERT_EQ(res().root(), QStringLiteral(":/lang/") + QString::fromStdString(GetParam()));
    for (const auto& [id, expected] : s_strings) {
        EXPECT_TRUE(res().hasString(id)) << "string " << id;
        EXPECT_FALSE(res().string(id).trimmed().isEmpty()) << "string " << id;
        EXPECT_EQ(inserts(res().string(id)), expected) << "string " << id;
    }
    // Command prompts: status text, a line feed, the tool tip.
    for (int id : s_commands) {
        EXPECT_FALSE(res().commandPrompt(id).isEmpty()) << "prompt " << id;
        EXPECT_FALSE(res().commandTip(id).isEmpty()) << "tip " << id;
    }
}

TEST_P(LanguagePackageTest, EveryLanguageHasTheSameStringsAsEnglish)
{
    const QList<int> ids = res().stringIds();
    std::map<int, QStringList> ownInserts;
    for (int id : ids) {
        ownInserts[id] = inserts(res().string(id));
    }
    LoadedPackage english("EN");
    ASSERT_EQ(ids, res().stringIds());
    for (int id : ids) {
        EXPECT_EQ(ownInserts[id], inserts(res().string(id))) << "string " << id;
    }
}

TEST_P(LanguagePackageTest, MenusSendKnownCommands)
{
    for (int menuId : {128, 132}) {
        ASSERT_TRUE(res().hasMenu(menuId)) << menuId;
        const QList<MenuEntry> popups = res().menu(menuId);
        ASSERT_FALSE(popups.isEmpty()) << menuId;
        std::function<void(const QList<MenuEntry>&)> walk = [&](const QList<MenuEntry>& entries) {
            for (const MenuEntry& e : entries) {
                if (e.kind == MenuEntry::Kind::Popup) {
                    EXPECT_FALSE(e.text.isEmpty());
                    walk(e.items);
                } else if (e.kind == MenuEntry::Kind::Command) {
                    EXPECT_TRUE(s_commands.count(e.id)) << "menu " << menuId << " id " << e.id;
                    EXPECT_FALSE(e.text.isEmpty()) << e.id;
                }
            }
        };
        walk(popups);
        EXPECT_EQ(popups.front().kind, MenuEntry::Kind::Popup);
        EXPECT_FALSE(popups.front().items.isEmpty()) << "the context menu shows the first popup";
    }
}

TEST_P(LanguagePackageTest, ToolbarAcceleratorsIconsAndCursor)
{
    const QList<ToolbarEntry> buttons = res().toolbar(128);
    ASSERT_FALSE(buttons.isEmpty());
    for (const ToolbarEntry& b : buttons) {
        if (b.id != 0) {
            EXPECT_TRUE(s_commands.count(b.id)) << b.id;
            EXPECT_FALSE(res().iconFile(b.icon).isNull()) << b.icon.toStdString();
        }
    }
    const QList<Accelerator> keys = res().accelerators(128);
    ASSERT_FALSE(keys.isEmpty());
    for (const Accelerator& a : keys) {
        EXPECT_TRUE(s_commands.count(a.id)) << a.key.toString().toStdString();
    }
    for (int id : {128, 147}) {
        const QIcon icon = res().icon(id);
        ASSERT_FALSE(icon.isNull()) << "icon " << id;
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
        EXPECT_FALSE(icon.pixmap(32, 32).isNull());
    }
    const std::optional<QCursor> link = res().cursor(282);
    ASSERT_TRUE(link.has_value());
    EXPECT_FALSE(link->pixmap().isNull());
}

TEST_P(LanguagePackageTest, EveryTemplateHoldsTheControlsItsDialogUses)
{
    for (const auto& [dialogId, controls] : s_dialogs) {
        std::unique_ptr<QWidget> form(res().loadDialog(dialogId));
        ASSERT_TRUE(form) << "dialog " << dialogId;
        EXPECT_FALSE(form->windowTitle().isEmpty()) << "dialog " << dialogId;
        for (const Control& c : controls) {
            const QList<QWidget*> found =
                form->findChildren<QWidget*>(LanguageResources::controlName(c.id));
            ASSERT_EQ(found.size(), 1) << "dialog " << dialogId << " control " << c.id;
            EXPECT_TRUE(isKind(found.front(), c.kind))
                << "dialog " << dialogId << " control " << c.id << " is a "
                << found.front()->metaObject()->className();
        }
        // No control id twice in one template.
        std::set<QString> names;
        for (QWidget* child : form->findChildren<QWidget*>()) {
            if (child->objectName().startsWith(QLatin1String("id_"))) {
                EXPECT_TRUE(names.insert(child->objectName()).second)
                    << "dialog " << dialogId << " " << child->objectName().toStdString();
            }
        }
    }
}

TEST_P(LanguagePackageTest, NoMenuOrDialogRepeatsAMnemonic)
{
    // Every menu and every dialog template the package holds, not only those listed above:
    // a template added later is checked as well.
    QFile menusFile(res().root() + QStringLiteral("/menus.json"));
    ASSERT_TRUE(menusFile.open(QIODevice::ReadOnly));
    const QStringList menuIds = QJsonDocument::fromJson(menusFile.readAll()).object().keys();
    ASSERT_FALSE(menuIds.isEmpty());
    for (const QString& menuId : menuIds) {
        std::function<void(const QString&, const QList<MenuEntry>&)> walk =
            [&](const QString& where, const QList<MenuEntry>& entries) {
                QStringList texts;
                for (const MenuEntry& e : entries) {
                    if (e.kind != MenuEntry::Kind::Separator) {
                        texts.append(e.text);
                    }
                    if (e.kind == MenuEntry::Kind::Popup) {
                        walk(where + u'/' + e.text, e.items);
                    }
                }
                const QStringList clashes = mnemonicClashes(texts);
                EXPECT_TRUE(clashes.isEmpty())
                    << where.toStdString() << ": " << clashes.join(u"; ").toStdString();
            };
        walk(QStringLiteral("menu ") + menuId, res().menu(menuId.toInt()));
    }

    const QStringList templates =
        QDir(res().root() + QStringLiteral("/dialogs")).entryList({QStringLiteral("*.ui")});
    ASSERT_FALSE(templates.isEmpty());
    for (const QString& file : templates) {
        const int dialogId = QFileInfo(file).completeBaseName().toInt();
        std::unique_ptr<QWidget> form(res().loadDialog(dialogId));
        ASSERT_TRUE(form) << file.toStdString();
        QStringList texts;
        for (QWidget* child : form->findChildren<QWidget*>()) {
            if (auto* button = qobject_cast<QAbstractButton*>(child)) {
                texts.append(button->text());
            } else if (auto* label = qobject_cast<QLabel*>(child)) {
                texts.append(label->text());
            } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
                texts.append(group->title());
            } else if (auto* tabs = qobject_cast<QTabWidget*>(child)) {
                for (int i = 0; i < tabs->count(); ++i) {
                    texts.append(tabs->tabText(i));
                }
            }
        }
        const QStringList clashes = mnemonicClashes(texts);
        EXPECT_TRUE(clashes.isEmpty())
            << "dialog " << file.toStdString() << ": " << clashes.join(u"; ").toStdString();
    }
}

// The About box tells under which licence the program comes, in every language; the
// paused view's pane has its text and tool tip.
TEST_P(LanguagePackageTest, AboutBoxNamesTheLicenceAndThePausedPaneHasItsText)
{
    EXPECT_TRUE(res().string(141).contains(QLatin1String("MIT"))) << "string 141";
    EXPECT_FALSE(res().string(210).trimmed().isEmpty()) << "string 210";
    EXPECT_FALSE(res().string(211).trimmed().isEmpty()) << "string 211";
}

INSTANTIATE_TEST_SUITE_P(Packages, LanguagePackageTest, ::testing::ValuesIn(languageCodes()),
                         [](const auto& row) { return row.param; });

} // namespace

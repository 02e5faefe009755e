// Find with a regular expression through the real Find box with the English package: the
// option ticked by a click, Enter and F3 walking the matches, a pattern that does not compile
// named in the box (no "not found", nothing moved), the option kept for the next box, and
// the box's accelerators all different.

#include "FindBoxFixture.h"
#include "dialogs/FindDialog.h"
#include "engine/LogDocument.h"
#include "frame/MainFrame.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsTable.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace {

class RegexFindCommandTest : public FindBoxFixture {};

} // namespace

TEST_F(RegexFindCommandTest, ATickedPatternIsFoundByEnterAndF3AndABadOneIsNamedInTheBox)
{
    open("alpha 42\nbeta\ngamma 7 delta 123\n");
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    auto* option = dialog->findChild<QCheckBox*>(QStringLiteral("regularExpression"));
    ASSERT_NE(option, nullptr);
    EXPECT_FALSE(option->isChecked());
    QTest::keyClicks(textField(dialog), "[0-9]+");
    QTest::mouseClick(option, Qt::LeftButton, {}, option->rect().center());
    ASSERT_TRUE(option->isChecked());
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(0, 6, 7));
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(selected(), Match(2, 6, 6));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(SettingsStore::instance().boolValue(Setting::FindRegularExpression));

    // F3 in the log with the box closed: the pattern again, not the text it selected.
    key(textField(dialog), Qt::Key_Escape);
    ASSERT_EQ(frame->findDialog(), nullptr);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    key(frame->activeView(), Qt::Key_F3);
    EXPECT_EQ(selected(), Match(2, 14, 16));
    key(frame->activeView(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(2, 14, 16)) << "the way up starts after the match, as a text's";
    key(frame->activeView(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(selected(), Match(2, 6, 6));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();

    // The option is kept for the next box.
    dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    option = dialog->findChild<QCheckBox*>(QStringLiteral("regularExpression"));
    EXPECT_TRUE(option->isChecked());

    // A pattern that does not compile: said in the box with PCRE2's words and the place.
    auto* said = dialog->findChild<QLabel*>(QStringLiteral("findMessage"));
    ASSERT_NE(said, nullptr);
    EXPECT_FALSE(said->isVisible());
    textField(dialog)->clear();
    QTest::keyClicks(textField(dialog), "de(lta");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_TRUE(said->isVisible());
    EXPECT_TRUE(said->text().contains(QStringLiteral("not valid"))) << said->text().toStdString();
    EXPECT_TRUE(said->text().contains(QStringLiteral("missing closing parenthesis")))
        << said->text().toStdString();
    EXPECT_TRUE(said->text().contains(QStringLiteral("character 7"))) << said->text().toStdString();
    EXPECT_TRUE(messages.isEmpty()) << "no \"not found\" for a pattern that cannot be searched";
    EXPECT_EQ(selected(), Match(2, 6, 6));
    // Typing on hides it.
    key(textField(dialog), Qt::Key_Backspace);
    EXPECT_FALSE(said->isVisible());

    // Unticked, the same text is a literal again.
    QTest::mouseClick(option, Qt::LeftButton, {}, option->rect().center());
    textField(dialog)->clear();
    QTest::keyClicks(textField(dialog), "[0-9]+");
    key(textField(dialog), Qt::Key_Return);
    EXPECT_EQ(messages.size(), 1) << "no line holds the text [0-9]+";
    EXPECT_FALSE(SettingsStore::instance().boolValue(Setting::FindRegularExpression));
}

TEST_F(RegexFindCommandTest, TheBoxAcceleratorsAreAllDifferent)
{
    open("x\n");
    FindDialog* dialog = openDialog();
    ASSERT_NE(dialog, nullptr);
    QStringList texts;
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        texts.append(button->text());
    }
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        texts.append(label->text());
    }
    QSet<QChar> keys;
    for (const QString& text : texts) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        if (at >= 0 && at + 1 < text.size()) {
            const QChar c = text.at(at + 1).toLower();
            EXPECT_FALSE(keys.contains(c)) << text.toStdString();
            keys.insert(c);
        }
    }
    EXPECT_GE(keys.size(), 7);
}

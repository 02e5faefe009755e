// View > Line Details on the real main frame with the English package: the caret moved with
// real keys (Ctrl+Home, Alt+Down and Alt+Up to the lines a keyword colours) and a real click,
// and the pane following it: a JSON object after a time and level pretty-printed with its
// members indented and its strings decoded, key=value pairs, a line that is almost JSON with
// a caret under the character where reading stopped, and a plain line. The command and the
// pane's own close button keep the setting.

#include "frame/LineDetailsPane.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <gtest/gtest.h>

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::u16;

namespace {

const char* const Lines[] = {
    "2026-12-10 10:00:00.001 INFO starting up",
    "2026-12-10 10:00:00.002 INFO req {\"user\":\"bob\",\"n\":{\"id\":7,\"tags\":[\"a\",\"b\"]},"
    "\"msg\":\"caf\\u00e9 \\ud83d\\ude00 \\\"quoted\\\"\"}",
    "2026-12-10 10:00:00.003 INFO nothing to see",
    "2026-12-10 10:00:00.004 WARN req done status=200 msg=\"said \\\"hi\\\"\" empty=",
    "2026-12-10 10:00:00.005 ERROR req {\"user\": \"bob\", \"id\": 12,}",
};

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

class LineDetailsPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        package.store->saveKeywords({Keyword(u"req", 0x0000FF, 0xFFFFFF, true, false, true)});
        const std::string path = package.dir.file("structured.log");
        std::string bytes;
        for (const char* line : Lines) {
            bytes += std::string(line) + "\n";
        }
        quilltest::writeFile(path, bytes);
        ASSERT_NO_FATAL_FAILURE(quilltest::showFrameOver(frame, owner, sound, path, {900, 500}));
    }

    LogView* view() const { return frame->activeView(); }
    LineDetailsPane* pane() const { return frame->lineDetails(); }
    QString shown() const { return pane()->textView()->toPlainText(); }

    void key(int k, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(view(), Qt::Key(k), mods);
        settle();
    }

    // Waits for the pane to show a text that starts with `heading`.
    bool showsLine(const QString& heading)
    {
        return QTest::qWaitFor([&] { return shown().startsWith(heading); }, 5000);
    }

    // The left margin of the pane's first block that starts with text.
    qreal marginOf(const QString& text) const
    {
        for (QTextBlock b = pane()->textView()->document()->begin(); b.isValid(); b = b.next()) {
            if (b.text().startsWith(text)) {
                return b.blockFormat().leftMargin();
            }
        }
        ADD_FAILURE() << "no block starts with " << text.toStdString();
        return -1;
    }

    quilltest::EnglishPackage package;
    NullSound sound;
    ReopeningOwner owner;
    std::unique_ptr<MainFrame> frame;
};

} // namespace

TEST_F(LineDetailsPaneTest, ThePaneFollowsTheCaretThroughJsonPairsAndAFailure)
{
    QAction* toggle = frame->action(CommandId::LineDetails);
    ASSERT_NE(toggle, nullptr);
    ASSERT_FALSE(pane()->isVisible()) << "hidden until asked for";
    toggle->trigger();
    settle();
    ASSERT_TRUE(pane()->isVisible());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(SettingsStore::instance().boolValue(Setting::LineDetails));
    EXPECT_TRUE(view()->hasFocus()) << "the keyboard stays with the log";

    key(Qt::Key_Home, Qt::ControlModifier);
    ASSERT_TRUE(showsLine(QStringLiteral("Line 1: no JSON object"))) << shown().toStdString();

    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(showsLine(QStringLiteral("Line 2: JSON"))) << shown().toStdString();
    const QString json = shown();
    EXPECT_TRUE(json.contains(QStringLiteral("\"user\": \"bob\",")));
    EXPECT_TRUE(json.contains(QStringLiteral("\"id\": 7,")));
    EXPECT_TRUE(json.contains(QStringLiteral("\"msg\": \"caf\u00e9 \U0001F600 \"quoted\"\"")))
        << json.toStdString();
    // Members hang one level deeper than their object.
    const qreal top = marginOf(QStringLiteral("\"user\""));
    const qreal nested = marginOf(QStringLiteral("\"id\""));
    const qreal element = marginOf(QStringLiteral("\"a\""));
    EXPECT_GT(nested, top);
    EXPECT_GT(element, nested);
    EXPECT_NEAR(element - nested, nested - top, 0.5);

    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(showsLine(QStringLiteral("Line 4: key=value pairs"))) << shown().toStdString();
    EXPECT_TRUE(shown().contains(QStringLiteral("\nstatus: 200\nmsg: said \"hi\"\nempty: ")))
        << shown().toStdString();

    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(showsLine(QStringLiteral("Line 5: reading as JSON stopped at column 60")))
        << shown().toStdString();
    const QStringList parts = shown().split(QLatin1Char('\n'));
    ASSERT_EQ(parts.size(), 3) << shown().toStdString();
    EXPECT_TRUE(parts[0].contains(QStringLiteral("a name in double quotes was expected")));
    const qsizetype caret = parts[2].indexOf(QLatin1Char('^'));
    ASSERT_GE(caret, 0);
    EXPECT_EQ(parts[2].left(caret).trimmed(), QString()) << "only blanks before the caret";
    EXPECT_EQ(parts[1].mid(caret), QStringLiteral("}")) << parts[1].toStdString();
    EXPECT_TRUE(parts[1].startsWith(QChar(0x2026))) << "the line goes on before the piece";

    key(Qt::Key_Up, Qt::AltModifier);
    ASSERT_TRUE(showsLine(QStringLiteral("Line 4:"))) << shown().toStdString();

    // A click on the third row.
    const int y = int(view()->lineHeight() * 2.5);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, QPoint(5, y));
    ASSERT_TRUE(showsLine(QStringLiteral("Line 3: no JSON object"))) << shown().toStdString();

    toggle->trigger();
    settle();
    EXPECT_FALSE(pane()->isVisible());
    EXPECT_FALSE(SettingsStore::instance().boolValue(Setting::LineDetails));
    key(Qt::Key_Home, Qt::ControlModifier);
    QTest::qWait(100);
    EXPECT_TRUE(shown().startsWith(QStringLiteral("Line 3:"))) << "hidden, it reads nothing";
}

TEST_F(LineDetailsPaneTest, ItsCloseButtonClearsTheSettingAndAFreshWindowRemembers)
{
    frame->action(CommandId::LineDetails)->trigger();
    settle();
    ASSERT_TRUE(pane()->isVisible());
    ASSERT_TRUE(pane()->close());
    settle();
    EXPECT_FALSE(SettingsStore::instance().boolValue(Setting::LineDetails));
    EXPECT_FALSE(frame->action(CommandId::LineDetails)->isChecked());

    frame->action(CommandId::LineDetails)->trigger();
    frame.reset();
    frame = std::make_unique<MainFrame>(&owner, &sound);
    frame->show();
    settle();
    EXPECT_TRUE(pane()->isVisible()) << "shown again in the next window";
    EXPECT_TRUE(showsLine(QStringLiteral("No line"))) << shown().toStdString();
}

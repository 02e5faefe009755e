#pragma once

// The real main frame with the English package, a log opened in its first tab and not
// followed, and the Find box opened by its key: for the tests of Find.

#include "dialogs/FindDialog.h"
#include "engine/LogDocument.h"
#include "frame/MainFrame.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

class FindBoxFixture : public ::testing::Test {
  protected:
    // The selection as (line, first, last).
    using Match = std::tuple<LineNumber, int, int>;

    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = package.dir.file("app.log");
    }

    void open(const std::string& bytes)
    {
        quilltest::writeFile(path, bytes);
        frame = std::make_unique<MainFrame>(nullptr, &sound);
        document = frame->activeDocument();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        frame->resize(600, 400);
        frame->show();
        frame->activeView()->initialUpdate();
        ASSERT_TRUE(document->openDocument(quilltest::u16(path)));
        document->stopWatching();
        frame->activeView()->initialUpdate();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        QApplication::processEvents();
    }

    static void key(QWidget* target, int k, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(target, Qt::Key(k), mods);
        QApplication::processEvents();
    }

    // Ctrl+F in the active window's log view.
    FindDialog* openDialog()
    {
        frame->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        key(frame->activeView(), Qt::Key_F, Qt::ControlModifier);
        FindDialog* dialog = frame->findDialog();
        if (dialog != nullptr) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
        }
        return dialog;
    }

    static QLineEdit* textField(FindDialog* dialog)
    {
        return dialog->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    }

    Match selected() const
    {
        const DocSelection s = document->selection();
        EXPECT_TRUE(s.valid);
        EXPECT_EQ(s.startLine, s.endLine);
        return {s.startLine, s.startCol, s.endCol};
    }

    quilltest::EnglishPackage package;
    quilltest::NullSound sound;
    LogDocument* document = nullptr; // the first tab's
    std::unique_ptr<MainFrame> frame;
    std::string path;
    QStringList messages;
};

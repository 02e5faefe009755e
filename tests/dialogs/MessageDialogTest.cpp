#include "dialogs/MessageDialog.h"
#include "resources/LanguageResources.h"

#include "support/PackageFiles.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace quilltest;

namespace {

class MessageDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_package = new LoadedPackage("EN"); }
    static void TearDownTestSuite()
    {
        delete s_package;
        s_package = nullptr;
    }

    static QString text(const MessageDialog& dlg)
    {
        return LanguageResources::control<QLabel>(&dlg, ControlId::MessageText)->text();
    }
    static QCheckBox* check(const MessageDialog& dlg)
    {
        return LanguageResources::control<QCheckBox>(&dlg, ControlId::MessageDontAskAgain);
    }

    // Runs doModal and acts on the dialog once its loop is running.
    static int runModal(MessageDialog& dlg, std::function<void()> act)
    {
        QTimer::singleShot(0, &dlg, std::move(act));
        return dlg.doModal();
    }

    static LoadedPackage* s_package;
};

LoadedPackage* MessageDialogTest::s_package = nullptr;

TEST_F(MessageDialogTest, StringIdWinsOverSetText)
{
    // Ids as a package table holds them: the caption string, none, and one the package lacks.
    const int caption = static_cast<int>(StringId::MissingFileCaption);
    const QString fileNotFound = QStringLiteral("File not found");
    struct Row {
        int textId;
        QString setText;
        QString shown;
    };
    for (const Row& row :
         {Row{0, QStringLiteral("Set by the caller"), QStringLiteral("Set by the caller")},
          Row{caption, QStringLiteral("Set by the caller"), fileNotFound},
          Row{caption, QString(), fileNotFound}, Row{0, QString(), QString()},
          Row{99999, QStringLiteral("Set by the caller"), QString()}}) {
        MessageDialog dlg;
        dlg.setText(row.setText);
        dlg.textId = row.textId;
        dlg.initDialog();
        EXPECT_EQ(text(dlg), row.shown) << row.textId;
        EXPECT_EQ(dlg.text, row.shown) << row.textId;
    }
}

TEST_F(MessageDialogTest, CaptionFromIdOrText)
{
    MessageDialog byId;
    byId.caption = QStringLiteral("ignored");
    byId.setCaptionId(StringId::MissingFileCaption);
    byId.initDialog();
    EXPECT_EQ(byId.windowTitle(), QStringLiteral("File not found"));

    MessageDialog byText;
    byText.caption = QStringLiteral("Own caption");
    byText.initDialog();
    EXPECT_EQ(byText.windowTitle(), QStringLiteral("Own caption"));
}

TEST_F(MessageDialogTest, TextIsShownAsWrittenNotAsMarkup)
{
    MessageDialog dlg;
    dlg.setText(QStringLiteral("<b>/var/log/a&b.log</b>"));
    dlg.initDialog();
    EXPECT_EQ(LanguageResources::control<QLabel>(&dlg, ControlId::MessageText)->textFormat(),
              Qt::PlainText);
}

TEST_F(MessageDialogTest, OkReturnsTheCheckBoxCancelKeepsTheMember)
{
    struct Row {
        ControlId button; // clicked
        bool tick;
        int result;
        int dontAskAgain;
    };
    for (const Row& row : {Row{ControlId::Ok, true, MessageDialog::IDOK, 1},
                           Row{ControlId::Ok, false, MessageDialog::IDOK, 0},
                           Row{ControlId::Cancel, true, MessageDialog::IDCANCEL, 0}}) {
        MessageDialog dlg;
        dlg.setTextId(StringId::MissingFileQuestion);
        const int result = runModal(dlg, [&dlg, row] {
            check(dlg)->setChecked(row.tick);
            LanguageResources::control<QPushButton>(&dlg, row.button)->click();
        });
        EXPECT_EQ(result, row.result) << static_cast<int>(row.button) << row.tick;
        EXPECT_EQ(dlg.dontAskAgain, row.dontAskAgain) << static_cast<int>(row.button) << row.tick;
    }
}

TEST_F(MessageDialogTest, PresetCheckBoxIsShown)
{
    MessageDialog dlg;
    dlg.dontAskAgain = 1;
    dlg.initDialog();
    EXPECT_TRUE(check(dlg)->isChecked());
}

} // namespace

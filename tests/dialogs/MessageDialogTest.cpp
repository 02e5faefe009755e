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
        return LanguageResources::control<QLabel>(&dlg, 1007)->text();
    }
    static QCheckBox* check(const MessageDialog& dlg)
    {
        return LanguageResources::control<QCheckBox>(&dlg, 1006);
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
    const QString string6 = LanguageResources::current().string(6);
    ASSERT_FALSE(string6.isEmpty());
    struct Row {
        int textId;
        QString setText;
        QString shown;
    };
    for (const Row& row :
         {Row{0, QStringLiteral("Set by the caller"), QStringLiteral("Set by the caller")},
          Row{6, QStringLiteral("Set by the caller"), string6}, Row{6, QString(), string6},
          Row{0, QString(), QString()},
          Row{99999, QStringLiteral("Set by the caller"), QString()}}) {
        MessageDialog dlg;
        dlg.setText(row.setText);
        dlg.m_textID = row.textId;
        dlg.initDialog();
        EXPECT_EQ(text(dlg), row.shown) << row.textId;
        EXPECT_EQ(dlg.m_text, row.shown) << row.textId;
    }
}

TEST_F(MessageDialogTest, CaptionFromIdOrText)
{
    MessageDialog byId;
    byId.m_caption = QStringLiteral("ignored");
    byId.m_captionID = 6;
    byId.initDialog();
    EXPECT_EQ(byId.windowTitle(), LanguageResources::current().string(6));

    MessageDialog byText;
    byText.m_caption = QStringLiteral("Own caption");
    byText.initDialog();
    EXPECT_EQ(byText.windowTitle(), QStringLiteral("Own caption"));
}

TEST_F(MessageDialogTest, TextIsShownAsWrittenNotAsMarkup)
{
    MessageDialog dlg;
    dlg.setText(QStringLiteral("<b>/var/log/a&b.log</b>"));
    dlg.initDialog();
    EXPECT_EQ(LanguageResources::control<QLabel>(&dlg, 1007)->textFormat(), Qt::PlainText);
}

TEST_F(MessageDialogTest, OkReturnsTheCheckBoxCancelKeepsTheMember)
{
    struct Row {
        int button; // control id clicked
        bool tick;
        int result;
        int dontAskAgain;
    };
    for (const Row& row :
         {Row{1, true, MessageDialog::IDOK, 1}, Row{1, false, MessageDialog::IDOK, 0},
          Row{2, true, MessageDialog::IDCANCEL, 0}}) {
        MessageDialog dlg;
        dlg.m_textID = 5;
        const int result = runModal(dlg, [&dlg, row] {
            check(dlg)->setChecked(row.tick);
            LanguageResources::control<QPushButton>(&dlg, row.button)->click();
        });
        EXPECT_EQ(result, row.result) << row.button << row.tick;
        EXPECT_EQ(dlg.m_dontAskAgain, row.dontAskAgain) << row.button << row.tick;
    }
}

TEST_F(MessageDialogTest, PresetCheckBoxIsShown)
{
    MessageDialog dlg;
    dlg.m_dontAskAgain = 1;
    dlg.initDialog();
    EXPECT_TRUE(check(dlg)->isChecked());
}

} // namespace

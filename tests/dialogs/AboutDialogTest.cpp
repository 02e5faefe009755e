#include "dialogs/AboutDialog.h"
#include "resources/LanguageResources.h"
#include "resources/ProductInfo.h"

#include "support/PackageFiles.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

using namespace quilltest;

namespace {

class AboutDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_package = new LoadedPackage("EN"); }
    static void TearDownTestSuite()
    {
        delete s_package;
        s_package = nullptr;
    }

    void SetUp() override
    {
        m_dialog = std::make_unique<AboutDialog>();
        m_dialog->setUrlOpener([this](const QUrl& url) { m_opened.append(url); });
        m_dialog->setWaitMilliseconds(30);
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    void TearDown() override
    {
        m_dialog.reset();
        while (QGuiApplication::overrideCursor()) {
            ADD_FAILURE() << "an override cursor was left behind";
            QGuiApplication::restoreOverrideCursor();
        }
    }

    static LoadedPackage* s_package;
    std::unique_ptr<AboutDialog> m_dialog;
    QList<QUrl> m_opened;
};

LoadedPackage* AboutDialogTest::s_package = nullptr;

TEST(AboutLinkColorTest, BrightnessRuleWeighsBlueHalf)
{
    struct Row {
        QColor face;
        QColor link;
    };
    const QColor light(0x99, 0x99, 0xFF);
    const QColor strong(0x00, 0x33, 0xFF);
    for (const Row& row : {Row{QColor(0x40, 0x40, 0x40), light},   // 160
                           Row{QColor(0xD4, 0xD0, 0xC8), strong},  // 520
                           Row{QColor(100, 100, 199), light},      // 299
                           Row{QColor(100, 100, 200), strong},     // 300
                           Row{QColor(0, 0, 255), light},          // 127
                           Row{QColor(200, 100, 0), strong},       // 300; the mean would say dark
                           Row{QColor(255, 255, 0), strong}}) {    // 510
        EXPECT_EQ(AboutDialog::linkColorFor(row.face), row.link) << row.face.name().toStdString();
    }
}

TEST_F(AboutDialogTest, TemplateControlsCarryTheirTexts)
{
    const QWidget* dialog = m_dialog.get();
    auto* product = LanguageResources::control<QLabel>(dialog, ControlId::AboutProductLine);
    ASSERT_TRUE(product);
    EXPECT_EQ(product->text(), QStringLiteral("Quillstream - Version 1.0.0.0001"));
    EXPECT_EQ(LanguageResources::control<QLabel>(dialog, ControlId::AboutText1)->text(),
              QStringLiteral("Quillstream shows a log file while other programs write to it, "
                             "follows its end and highlights the lines that hold your keywords."));
    EXPECT_EQ(LanguageResources::control<QLabel>(dialog, ControlId::AboutText2)->text(),
              QStringLiteral("Free software under the MIT License. It comes with no warranty of "
                             "any kind."));
    EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("About Quillstream"));
    auto* link = LanguageResources::control<QLabel>(dialog, ControlId::AboutLegalNotice);
    ASSERT_TRUE(link);
    EXPECT_FALSE(link->isVisible());
    EXPECT_EQ(link->text(), QStringLiteral("Copyright \u00A9 2026 Orix Software"));
    EXPECT_FALSE(m_dialog->linkRect().isEmpty());
}

TEST_F(AboutDialogTest, LinkIsPaintedInTheColourForTheButtonFace)
{
    for (const QColor& face : {QColor(0x40, 0x40, 0x40), QColor(0xD4, 0xD0, 0xC8)}) {
        QPalette palette = m_dialog->palette();
        palette.setColor(QPalette::Button, face);
        m_dialog->setPalette(palette);
        const QImage image = m_dialog->grab().toImage();
        const QColor expected = AboutDialog::linkColorFor(face);
        const QRect area = m_dialog->linkRect();
        int matching = 0;
        for (int y = area.top(); y <= area.bottom() + 1; ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                matching += QColor(image.pixel(x, y)) == expected ? 1 : 0;
            }
        }
        // At least the underline: a solid run of the link colour.
        EXPECT_GT(matching, 20) << face.name().toStdString();
    }
}

TEST_F(AboutDialogTest, LinkCursorOverTheLinkOnlyAndRestoredAfter)
{
    // Moves go to the window, which hands them to the child under the point (the template's
    // form covers the whole dialog), as the mouse does.
    QWindow* window = m_dialog->windowHandle();
    ASSERT_NE(window, nullptr);
    const QRect area = m_dialog->linkRect();
    const QPoint outside(area.center().x(), area.bottom() + 10);
    ASSERT_NE(m_dialog->childAt(area.center()), nullptr) << "a child lies over the link";
    const Qt::CursorShape before = m_dialog->cursor().shape();
    QTest::mouseMove(window, outside);
    QTest::mouseMove(window, area.center());
    // QTRY_VERIFY reports to QTestLib, which gtest does not hear.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_dialog->isLinkCursorShown(); }, 2000));
    EXPECT_EQ(m_dialog->cursor().shape(), Qt::BitmapCursor);
    QTest::mouseMove(window, outside);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialog->isLinkCursorShown(); }, 2000));
    EXPECT_EQ(m_dialog->cursor().shape(), before);
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(AboutDialogTest, ClickInsideTheControlOpensTheSiteWithAWaitCursor)
{
    const QRect area = m_dialog->linkRect();
    // Beside the text but still inside the control's rectangle.
    QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, QPoint(area.right() - 1, area.center().y()));
    ASSERT_EQ(m_opened.size(), 1);
    EXPECT_EQ(m_opened.at(0), QUrl(QString::fromUtf8(Product::WebSite.data(),
                                                      qsizetype(Product::WebSite.size()))));
    ASSERT_TRUE(QGuiApplication::overrideCursor());
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The wait ends by itself while events keep flowing.
    EXPECT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::overrideCursor(); }, 5000));
}

TEST_F(AboutDialogTest, ClicksOutsideTheLinkOrWithOtherButtonsDoNothing)
{
    const QRect area = m_dialog->linkRect();
    QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, QPoint(area.center().x(), area.bottom() + 8));
    QTest::mouseClick(m_dialog.get(), Qt::RightButton, {}, area.center());
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_FALSE(QGuiApplication::overrideCursor());
}

TEST_F(AboutDialogTest, ClosingDuringTheWaitRestoresTheCursor)
{
    m_dialog->setWaitMilliseconds(60000);
    const QRect area = m_dialog->linkRect();
    QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, area.center());
    QTest::mouseClick(m_dialog.get(), Qt::LeftButton, {}, area.center());
    EXPECT_EQ(m_opened.size(), 2);
    m_dialog.reset();
    EXPECT_FALSE(QGuiApplication::overrideCursor());
}

} // namespace

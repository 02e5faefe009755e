#include "dialogs/AboutDialog.h"

#include "resources/LanguageResources.h"
#include "resources/ProductInfo.h"
#include "resources/QtText.h"
#include "resources/VersionInfo.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int kTemplateId = 100;
constexpr int kProductLineId = 1002;
constexpr int kLegalNoticeId = 1003;
constexpr int kText1Id = 1004;
constexpr int kText2Id = 1005;
constexpr int kLinkCursorId = 282;
constexpr int kIconId = 128;

void setLabelText(const QWidget* form, int id, const QString& text)
{
    if (auto* label = LanguageResources::control<QLabel>(form, id)) {
        label->setText(text);
    }
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    m_form = LanguageResources::current().setupDialog(this, kTemplateId);
    setMouseTracking(true);
    // The template's form covers the whole dialog; a child without mouse tracking swallows
    // the plain moves over it, and the dialog would never see the mouse reach the link.
    if (m_form) {
        QList<QWidget*> children = m_form->findChildren<QWidget*>();
        children.append(m_form);
        for (QWidget* child : children) {
            child->setMouseTracking(true);
            child->installEventFilter(this);
        }
    }
    initDialog();
}

AboutDialog::~AboutDialog()
{
    // Waits still running end with the dialog, or the wait cursor would stay for good.
    while (m_pendingWaits > 0) {
        endWait();
    }
}

bool AboutDialog::initDialog()
{
    const LanguageResources& resources = LanguageResources::current();
    m_productLine = QStringLiteral("%1 - %2%3")
                        .arg(quill::toQString(Product::Name), resources.string(133),
                             quill::toQString(fileVersionText()));
    m_legalNotice = quill::toQString(Product::LegalNotice);
    m_text1 = resources.string(138);
    m_text2 = resources.string(141);
    m_linkCursor = resources.cursor(kLinkCursorId);
    m_linkCursorShown = false;

    m_link = LanguageResources::control<QLabel>(m_form, kLegalNoticeId);
    if (m_link) {
        m_link->setText(m_legalNotice);
        // The label only lends its place: it keeps it in the layout while hidden.
        QSizePolicy policy = m_link->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        m_link->setSizePolicy(policy);
        m_link->hide();
    }
    setWindowTitle(resources.format(136, quill::toQString(Product::Name)));
    setLabelText(m_form, kProductLineId, m_productLine);
    setLabelText(m_form, kText1Id, m_text1);
    setLabelText(m_form, kText2Id, m_text2);
    if (auto* icon = m_form ? m_form->findChild<QLabel*>(QStringLiteral("icon_128")) : nullptr) {
        icon->setPixmap(resources.icon(kIconId).pixmap(48, 48));
    }
    return true;
}

QColor AboutDialog::linkColorFor(const QColor& buttonFace)
{
    const int brightness = buttonFace.red() + buttonFace.green() + buttonFace.blue() / 2;
    return brightness < 300 ? QColor(0x99, 0x99, 0xFF) : QColor(0x00, 0x33, 0xFF);
}

QRect AboutDialog::linkRect() const
{
    if (!m_link) {
        return {};
    }
    return QRect(m_link->mapTo(this, QPoint(0, 0)), m_link->size());
}

void AboutDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (!m_link) {
        return;
    }
    m_link->hide();
    const QRect area = linkRect();
    const QColor color = linkColorFor(palette().color(QPalette::Button));
    QPainter painter(this);
    painter.setFont(m_link->font());
    painter.setPen(color);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextHideMnemonic;
    const QRect textRect = painter.boundingRect(area, flags, m_legalNotice);
    painter.drawText(textRect, flags, m_legalNotice);
    const int underline = textRect.top() + textRect.height();
    painter.drawLine(textRect.left(), underline, textRect.left() + textRect.width(), underline);
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove && watched->isWidgetType()) {
        const auto* move = static_cast<QMouseEvent*>(event);
        updateLinkCursor(static_cast<QWidget*>(watched)->mapTo(this, move->position().toPoint()));
    }
    return QDialog::eventFilter(watched, event);
}

void AboutDialog::mouseMoveEvent(QMouseEvent* event)
{
    updateLinkCursor(event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}

void AboutDialog::updateLinkCursor(const QPoint& point)
{
    if (linkRect().contains(point)) {
        if (!m_linkCursorShown && m_linkCursor) {
            m_hadOwnCursor = testAttribute(Qt::WA_SetCursor);
            m_savedCursor = cursor();
            setCursor(*m_linkCursor);
            m_linkCursorShown = true;
        }
    } else {
        restoreCursor();
    }
}

void AboutDialog::leaveEvent(QEvent* event)
{
    restoreCursor();
    QDialog::leaveEvent(event);
}

void AboutDialog::restoreCursor()
{
    if (!m_linkCursorShown) {
        return;
    }
    if (m_hadOwnCursor) {
        setCursor(m_savedCursor);
    } else {
        unsetCursor();
    }
    m_linkCursorShown = false;
}

void AboutDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !linkRect().contains(event->position().toPoint())) {
        QDialog::mousePressEvent(event);
        return;
    }
    // The browser takes a moment to appear; the wait cursor says the click was taken
    // while the window stays responsive.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_pendingWaits;
    m_openUrl(QUrl(QString::fromUtf8(Product::WebSite.data(),
                                     static_cast<qsizetype>(Product::WebSite.size()))));
    QTimer::singleShot(m_waitMilliseconds, this, &AboutDialog::endWait);
}

void AboutDialog::endWait()
{
    if (m_pendingWaits > 0) {
        --m_pendingWaits;
        QGuiApplication::restoreOverrideCursor();
    }
}

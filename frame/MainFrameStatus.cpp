// The main frame's status bar: the front tab's path, size and line count, and the panes that
// show only while they have something to say (paused, cannot read, the encoding).

#include "frame/MainFrame.h"
#include "frame/PathPane.h"
#include "frame/TimeCommands.h"

#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStatusBar>

#include <cerrno>
#include <cstring>

namespace {

// Status pane ids (the indicators of panes 1 to 3) and their initial texts' string ids.
constexpr StringId PaneIds[3] = {StringId::NoFileOpen, StringId::SizeZeroBytes,
                                 StringId::LinesZero};

} // namespace

QString MainFrame::readProblemText(int error)
{
    const LanguageResources& resources = LanguageResources::current();
    switch (error) {
    case EACCES:
    case EPERM:
        return resources.string(StringId::NoPermission);
    case EISDIR:
        return resources.string(StringId::NowAFolder);
    case ENOTSUP:
        return resources.string(StringId::NowNotAFile);
    default:
        break;
    }
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(text)).arg(error);
}

QLabel* MainFrame::pane(int index) const
{
    return index >= 1 && index <= 3 ? m_panes[index - 1] : nullptr;
}

void MainFrame::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    const LanguageResources& resources = LanguageResources::current();
    for (int i = 0; i < 3; ++i) {
        QLabel* label = i == 0 ? new PathPane(bar) : new QLabel(bar);
        label->setObjectName(QStringLiteral("pane%1").arg(i + 1));
        label->setText(resources.string(PaneIds[i]));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addPermanentWidget(label);
        m_panes[i] = label;
    }
    m_pausePane = new QLabel(resources.string(StringId::Paused), bar);
    m_pausePane->setObjectName(QStringLiteral("pausePane"));
    m_pausePane->setToolTip(resources.string(StringId::PausedTip));
    m_pausePane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_pausePane->setVisible(false);
    bar->addPermanentWidget(m_pausePane);
    m_readPane = new QLabel(bar);
    m_readPane->setObjectName(QStringLiteral("readPane"));
    m_readPane->setToolTip(resources.string(StringId::CannotReadTip));
    m_readPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_readPane->setVisible(false);
    bar->addPermanentWidget(m_readPane);
    m_encodingPane = new QLabel(bar);
    m_encodingPane->setObjectName(QStringLiteral("encodingPane"));
    m_encodingPane->setToolTip(resources.string(StringId::EncodingTip));
    m_encodingPane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addPermanentWidget(m_encodingPane);
    m_time->buildPane(bar);
}

void MainFrame::updateEncodingPane()
{
    if (m_encodingPane == nullptr) {
        return;
    }
    QString text;
    const LogDocument* document = activeDocument();
    if (document != nullptr && !document->pathName().empty()) {
        text = QString::fromStdString(quill::encodingName(document->encodingForm()));
        if (document->chosenEncoding() == quill::TextEncoding::Automatic) {
            // A package without the text (or one that drops the name) still shows the name.
            const QString automatic =
                LanguageResources::current().format(StringId::EncodingAutomatic, text);
            if (automatic.contains(text)) {
                text = automatic;
            }
        }
    }
    if (m_encodingPane->text() != text) {
        m_encodingPane->setText(text);
    }
}

void MainFrame::updatePausePane()
{
    // Paused: a file is open and nobody watches it. A document without a file has nothing
    // to follow, so there is nothing to call paused.
    // A complete decompressed copy is not followed any more, so it is not paused either.
    const LogDocument* document = activeDocument();
    const bool paused = !document->isWatching() && document->canFollow();
    if (m_pausePane != nullptr && m_pausePane->isVisibleTo(statusBar()) != paused) {
        m_pausePane->setVisible(paused);
    }
}

void MainFrame::updateReadPane()
{
    const LogDocument* document = activeDocument();
    const int error = document != nullptr ? document->readError() : 0;
    if (m_readPane == nullptr) {
        return;
    }
    if (error != 0) {
        m_readPane->setText(
            LanguageResources::current().format(StringId::CannotRead, readProblemText(error)));
    }
    if (m_readPane->isVisibleTo(statusBar()) != (error != 0)) {
        m_readPane->setVisible(error != 0);
    }
}

int MainFrame::statusTextWidth(const QString& text) const
{
    return statusBar()->fontMetrics().horizontalAdvance(text);
}

void MainFrame::setPaneText(int index, const QString& text)
{
    QLabel* label = pane(index);
    if (label == nullptr) {
        return;
    }
    label->setText(text);
    label->setFrameStyle(text.isEmpty() ? QFrame::NoFrame : (QFrame::Panel | QFrame::Sunken));
    const int frame = text.isEmpty() ? 0 : 2 * label->frameWidth() + 2 * label->margin() + 4;
    const int width = text.isEmpty() ? 0 : statusTextWidth(text) + frame;
    if (index == 1) {
        // The path gives way to the other panes when the bar is short of room.
        label->setMinimumWidth(0);
        label->setMaximumWidth(width);
        label->setToolTip(text);
    } else {
        label->setFixedWidth(width);
    }
}

void MainFrame::setFilePathText(const std::u16string& path)
{
    setPaneText(1, quill::fileNameToDisplay(path));
}

void MainFrame::setFileSizeText(qint64 size)
{
    setPaneText(2, QStringLiteral("%1 %2 Bytes")
                       .arg(LanguageResources::current().string(StringId::SizeLabel))
                       .arg(size));
}

void MainFrame::setLineCountText(qint64 count)
{
    setPaneText(3, QStringLiteral("%1 %2")
                       .arg(LanguageResources::current().string(StringId::LinesLabel))
                       .arg(count));
}

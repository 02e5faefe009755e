// Copy and Select All in the main frame: the filter pane's rows are copied at once, the log
// view's selection on a thread of its own with a progress window that can cancel it.

#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"

#include "diagnostics/TraceLog.h"
#include "engine/LogDocument.h"
#include "resources/LanguageResources.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/SelectionClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QTimer>

namespace {

// A copy that takes longer than this shows its progress; shorter ones finish unseen.
constexpr int CopyProgressAfterMs = 400;
constexpr int CopyPollMs = 100;

} // namespace

bool MainFrame::filterPaneHasFocus() const
{
    return filterPane()->isActive() && (filterPane()->view()->hasFocus() || filterShownAsView());
}

void MainFrame::onEditSelectAll()
{
    if (filterPaneHasFocus()) {
        filterPane()->view()->onEditSelectAll();
    } else {
        activeView()->onEditSelectAll();
    }
}

void MainFrame::onEditCopy()
{
    FilterView* pane = filterPaneHasFocus() ? filterPane()->view() : nullptr;
    if (pane != nullptr ? !pane->canCopy() : !activeView()->canCopy()) {
        return;
    }
    if (pane == nullptr) {
        startCopyJob();
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const CopyResult result = pane->onEditCopy();
    QGuiApplication::restoreOverrideCursor();
    reportCopy(result);
}

void MainFrame::startCopyJob()
{
    if (m_copyJob != nullptr) {
        return; // one copy at a time; the next Copy waits for this one to end
    }
    LogDocument* document = activeDocument();
    m_copyJob = std::make_unique<SelectionCopyJob>(*document, document->selection());
    m_copyTab = m_front;
    connect(m_copyJob.get(), &SelectionCopyJob::finished, this, &MainFrame::finishCopyJob);
    m_copyPolls = 0;
    if (m_copyPoll == nullptr) {
        m_copyPoll = new QTimer(this);
        m_copyPoll->setInterval(CopyPollMs);
        connect(m_copyPoll, &QTimer::timeout, this, &MainFrame::updateCopyProgress);
    }
    m_copyPoll->start();
}

void MainFrame::updateCopyProgress()
{
    if (m_copyJob == nullptr) {
        return;
    }
    ++m_copyPolls;
    if (m_copyProgress == nullptr && m_copyPolls * CopyPollMs >= CopyProgressAfterMs) {
        const LanguageResources& resources = LanguageResources::current();
        m_copyProgress = new QProgressDialog(this);
        m_copyProgress->setObjectName(QStringLiteral("copyProgress"));
        m_copyProgress->setWindowTitle(QStringLiteral("Quillstream"));
        m_copyProgress->setLabelText(resources.string(StringId::Copying));
        m_copyProgress->setCancelButtonText(resources.string(StringId::Cancel));
        m_copyProgress->setRange(0, 1000);
        m_copyProgress->setMinimumDuration(0);
        m_copyProgress->setAutoClose(false);
        m_copyProgress->setAutoReset(false);
        // Window-modal: the window goes on painting and following, but no second command
        // acts on a selection that is being read.
        m_copyProgress->setWindowModality(Qt::WindowModal);
        // Cancel, Escape and closing the window all come as canceled.
        connect(m_copyProgress, &QProgressDialog::canceled, this, [this] {
            if (m_copyJob) {
                m_copyJob->cancel();
            }
        });
        m_copyProgress->open();
    }
    if (m_copyProgress != nullptr) {
        m_copyProgress->setValue(m_copyJob->permille());
    }
}

void MainFrame::finishCopyJob()
{
    if (m_copyJob == nullptr) {
        return;
    }
    m_copyPoll->stop();
    const CopyResult result = m_copyJob->result();
    if (result.outcome == CopyOutcome::Copied) {
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->setMimeData(new SelectionMimeData(m_copyJob->takeText()),
                                   QClipboard::Clipboard);
        }
    }
    // Not deleted here: this runs inside the job's own signal. Its thread has ended.
    SelectionCopyJob* job = m_copyJob.release();
    m_copyTab = nullptr;
    job->setParent(this);
    job->deleteLater();
    if (m_copyProgress != nullptr) {
        m_copyProgress->disconnect(this);
        m_copyProgress->hide();
        m_copyProgress->deleteLater();
        m_copyProgress = nullptr;
    }
    reportCopy(result);
}

void MainFrame::reportCopy(const CopyResult& result)
{
    const auto megabytes = [](std::uint64_t bytes) {
        return QString::number((bytes + (1 << 20) - 1) >> 20);
    };
    if (result.outcome == CopyOutcome::TooLarge) {
        TraceLog::instance().line(TraceLog::LevelError, "Copy refused: needs ",
                                  std::uint64_t(result.neededBytes), " bytes, ",
                                  std::uint64_t(result.availableBytes), " available");
        showMessage(LanguageResources::current().format(StringId::CopyTooLarge,
                                                        megabytes(result.neededBytes),
                                                        megabytes(result.availableBytes)));
    } else if (result.outcome == CopyOutcome::Unreadable) {
        showMessage(LanguageResources::current().string(StringId::CopyUnreadable));
    }
}

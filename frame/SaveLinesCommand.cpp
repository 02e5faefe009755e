#include "frame/SaveLinesCommand.h"

#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"

#include "diagnostics/TraceLog.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "platform/FileName.h"
#include "resources/LanguageResources.h"
#include "resources/QtFileName.h"
#include "resources/QtText.h"
#include "view/MergedRowSource.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

// A save that takes longer than this shows its progress; shorter ones finish unseen.
constexpr int ProgressAfterMs = 400;
constexpr int PollMs = 100;
// How long the outcome stays in the status bar.
constexpr int NoteMs = 8000;

// Why a write or a read failed, in words.
QString reasonText(int error)
{
    if (error == ENOSPC || error == EDQUOT) {
        return LanguageResources::current().string(StringId::DiskFull);
    }
    char buffer[256] = {};
    // The GNU variant returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(text)).arg(error);
}

QString countText(std::uint64_t count)
{
    return QLocale().toString(qulonglong(count));
}

StringId offerString(SaveLinesCommand::Choice choice)
{
    switch (choice) {
    case SaveLinesCommand::Choice::FilterResult:
        return StringId::SaveLinesFilterResult;
    case SaveLinesCommand::Choice::Selected:
        return StringId::SaveLinesSelected;
    case SaveLinesCommand::Choice::Marked:
        return StringId::SaveLinesMarked;
    case SaveLinesCommand::Choice::AllShown:
        break;
    }
    return StringId::SaveLinesAllShown;
}

const LineFilter* activeFilter(LogTab* tab)
{
    const LineFilter* filter = tab->filterPane() != nullptr ? tab->filterPane()->filter() : nullptr;
    return filter != nullptr && filter->isActive() ? filter : nullptr;
}

// The selected lines as a span: every line the selection touches, within the lines shown
// (Select All ends on the line count itself).
LineSpan selectedSpan(const LogDocument& document)
{
    DocSelection selection;
    if (!document.selection(selection)) {
        return {};
    }
    const LineNumber count = document.lineCount();
    const LineNumber first = std::min(selection.startLine, selection.endLine);
    const LineNumber last = std::max(selection.startLine, selection.endLine);
    return {std::min(first, count), std::min<LineNumber>(last, count - 1) + (count > 0 ? 1 : 0)};
}

} // namespace

std::function<void()> SaveLinesCommand::s_startHook;

void SaveLinesCommand::setStartHookForTesting(std::function<void()> hook)
{
    s_startHook = std::move(hook);
}

struct SaveLinesCommand::Job {
    int serial = 0;
    LogTab* tab = nullptr;
    std::unique_ptr<LinesWriter> saver;
    std::thread thread;
    SaveResult result;
    std::uint64_t lines = 0;
    QString shownTarget;
};

SaveLinesCommand::SaveLinesCommand(MainFrame* frame) : QObject(frame), m_frame(frame) {}

SaveLinesCommand::~SaveLinesCommand()
{
    tabClosing(nullptr);
}

std::vector<SaveLinesCommand::Offer> SaveLinesCommand::offers(LogTab* tab)
{
    std::vector<Offer> offers;
    if (tab == nullptr) {
        return offers;
    }
    if (tab->merged() != nullptr) {
        return mergedOffers(tab);
    }
    const LogDocument& document = *tab->document();
    if (const LineFilter* filter = activeFilter(tab)) {
        offers.push_back({Choice::FilterResult, filter->matches().size()});
    }
    const LineSpan selected = selectedSpan(document);
    if (selected.end > selected.first) {
        offers.push_back({Choice::Selected, selected.end - selected.first});
    }
    if (!document.marks().isEmpty()) {
        offers.push_back({Choice::Marked, document.marks().count()});
    }
    offers.push_back({Choice::AllShown, document.lineCount()});
    return offers;
}

SaveLinesCommand::Choice SaveLinesCommand::defaultChoice(LogTab* tab)
{
    const std::vector<Offer> all = offers(tab);
    for (Choice preferred : {Choice::FilterResult, Choice::Selected}) {
        for (const Offer& offer : all) {
            if (offer.choice == preferred) {
                return preferred;
            }
        }
    }
    return Choice::AllShown;
}

LinesToSave SaveLinesCommand::linesFor(LogTab* tab, Choice choice)
{
    LinesToSave lines;
    if (tab == nullptr) {
        return lines;
    }
    const LogDocument& document = *tab->document();
    switch (choice) {
    case Choice::FilterResult:
        if (const LineFilter* filter = activeFilter(tab)) {
            const FilterMatches& matches = filter->matches();
            for (std::size_t row = 0; row < matches.size(); ++row) {
                lines.addLine(matches.at(row));
            }
        }
        break;
    case Choice::Selected: {
        const LineSpan span = selectedSpan(document);
        if (span.end > span.first) {
            lines.spans.push_back(span);
        }
        break;
    }
    case Choice::Marked:
        // Marks carry no notes yet; a note given here is written after its line.
        for (LineNumber line : document.marks().lines()) {
            lines.addLine(line);
        }
        break;
    case Choice::AllShown:
        if (document.lineCount() > 0) {
            lines.spans.push_back({0, document.lineCount()});
        }
        break;
    }
    return lines;
}

bool SaveLinesCommand::canSave(LogTab* tab) const
{
    if (m_job != nullptr || tab == nullptr) {
        return false;
    }
    return tab->merged() != nullptr ? !mergedOffers(tab).empty() : tab->document()->lineCount() > 0;
}

void SaveLinesCommand::saveLinesAs(LogTab* tab)
{
    if (!canSave(tab)) {
        return;
    }
    const LanguageResources& resources = LanguageResources::current();
    QString folder = m_folder;
    if (folder.isEmpty()) {
        const std::string& log = tab->merged() != nullptr
                                     ? tab->merged()->rows()->document(0).nativePath()
                                     : tab->document()->nativePath();
        folder = log.empty() ? QDir::homePath()
                             : QFileInfo(QFile::decodeName(log.c_str())).absolutePath();
    }
    // Window-modal and not waited for: the window goes on following meanwhile.
    auto* dialog = new QFileDialog(m_frame, resources.string(StringId::SaveLinesCaption), folder);
    dialog->setObjectName(QStringLiteral("saveLinesDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: the choice of lines is a row of it, which a desktop's dialog lacks.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    QString allFiles = resources.string(StringId::AllFilesFilter);
    // "*.*" would hide every file without a dot in its name.
    allFiles.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    dialog->setNameFilter(allFiles);

    auto* label = new QLabel(resources.string(StringId::SaveLinesChoiceLabel), dialog);
    auto* choices = new QComboBox(dialog);
    choices->setObjectName(QStringLiteral("saveLinesChoice"));
    label->setBuddy(choices);
    const Choice preferred = defaultChoice(tab);
    for (const Offer& offer : offers(tab)) {
        choices->addItem(resources.format(offerString(offer.choice), countText(offer.lines)),
                         int(offer.choice));
        if (offer.choice == preferred) {
            choices->setCurrentIndex(choices->count() - 1);
        }
    }
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(choices, row, 1);
    }

    QPointer<LogTab> target(tab);
    connect(dialog, &QFileDialog::accepted, this, [this, dialog, choices, target] {
        if (target == nullptr || dialog->selectedFiles().isEmpty()) {
            return;
        }
        m_folder = dialog->directory().absolutePath();
        save(target, Choice(choices->currentData().toInt()),
             quill::fileNameFromQt(dialog->selectedFiles().constFirst()));
    });
    dialog->open();
}

void SaveLinesCommand::save(LogTab* tab, Choice choice, const std::u16string& target)
{
    if (!canSave(tab)) {
        return;
    }
    LogDocument& document = *tab->document();
    m_job = std::make_unique<Job>();
    Job& job = *m_job;
    job.serial = ++m_serial;
    job.tab = tab;
    job.shownTarget = quill::fileNameToDisplay(target);
    if (tab->merged() != nullptr) {
        job.saver = mergedSaver(tab, choice, quill::fileNameToBytes(target), job.lines);
    } else {
        LinesToSave lines = linesFor(tab, choice);
        job.lines = lines.lineCount();
        job.saver =
            std::make_unique<LineSaver>(document, std::move(lines), quill::fileNameToBytes(target));
    }
    TraceLog::instance().line(TraceLog::LevelInfo, "Saving ", job.lines, " lines");
    const int serial = job.serial;
    job.thread = std::thread([this, &job, serial, hook = s_startHook] {
        if (hook) {
            hook();
        }
        job.result = job.saver->run();
        QMetaObject::invokeMethod(
            this, [this, serial] { finish(serial); }, Qt::QueuedConnection);
    });
    m_polls = 0;
    if (m_poll == nullptr) {
        m_poll = new QTimer(this);
        m_poll->setInterval(PollMs);
        connect(m_poll, &QTimer::timeout, this, &SaveLinesCommand::poll);
    }
    m_poll->start();
    m_frame->updateCommandStates();
}

void SaveLinesCommand::poll()
{
    if (m_job == nullptr) {
        return;
    }
    ++m_polls;
    if (m_progress == nullptr && m_polls * PollMs >= ProgressAfterMs) {
        const LanguageResources& resources = LanguageResources::current();
        m_progress = new QProgressDialog(m_frame);
        m_progress->setObjectName(QStringLiteral("saveLinesProgress"));
        m_progress->setWindowTitle(QStringLiteral("Quillstream"));
        m_progress->setLabelText(resources.string(StringId::SavingLines));
        m_progress->setCancelButtonText(resources.string(StringId::Cancel));
        m_progress->setRange(0, 1000);
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        // Window-modal: the window goes on following, but its lines are not changed under
        // the save by a command (a Clear would end it).
        m_progress->setWindowModality(Qt::WindowModal);
        // Cancel, Escape and closing the window all come as canceled.
        connect(m_progress, &QProgressDialog::canceled, this, [this] {
            if (m_job) {
                m_job->saver->cancel();
            }
        });
        m_progress->open();
    }
    if (m_progress != nullptr) {
        m_progress->setValue(m_job->saver->permille());
    }
}

void SaveLinesCommand::finish(int serial)
{
    if (m_job == nullptr || m_job->serial != serial) {
        return; // a save that was cancelled and waited for already
    }
    m_job->thread.join();
    const std::unique_ptr<Job> job = std::move(m_job);
    m_poll->stop();
    closeProgress();
    m_lastResult = job->result;
    report(job->result, job->lines, job->shownTarget);
    m_frame->updateCommandStates();
    emit finished();
}

void SaveLinesCommand::closeProgress()
{
    if (m_progress != nullptr) {
        m_progress->disconnect(this);
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

void SaveLinesCommand::tabClosing(LogTab* tab)
{
    if (m_job == nullptr || (tab != nullptr && m_job->tab != tab)) {
        return;
    }
    // Its thread reads the document that goes with the tab.
    m_job->saver->cancel();
    m_job->thread.join();
    m_job.reset();
    if (m_poll != nullptr) {
        m_poll->stop();
    }
    closeProgress();
}

void SaveLinesCommand::report(const SaveResult& result, std::uint64_t lines,
                              const QString& shownTarget)
{
    const LanguageResources& resources = LanguageResources::current();
    switch (result.outcome) {
    case SaveOutcome::Saved:
        m_frame->statusBar()->showMessage(
            resources.format(StringId::SaveLinesDone, countText(lines), shownTarget), NoteMs);
        return;
    case SaveOutcome::Cancelled:
        m_frame->statusBar()->showMessage(resources.string(StringId::SaveLinesCancelled), NoteMs);
        return;
    case SaveOutcome::LinesChanged:
        m_frame->showMessage(resources.format(StringId::SaveLinesLogChanged, shownTarget));
        break;
    case SaveOutcome::Unreadable:
        m_frame->showMessage(resources.format(
            StringId::SaveLinesFailed, shownTarget,
            resources.format(StringId::SaveLinesLogUnreadable, reasonText(result.error))));
        break;
    case SaveOutcome::CannotCreate:
    case SaveOutcome::WriteFailed:
        m_frame->showMessage(
            resources.format(StringId::SaveLinesFailed, shownTarget, reasonText(result.error)));
        break;
    }
    TraceLog::instance().line(TraceLog::LevelError, "Saving lines failed: outcome ",
                              int(result.outcome), ", error ", result.error);
}

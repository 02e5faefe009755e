// File > Follow Remote Files Merged...: the box that takes several files, one a line, on
// other machines or on this one, and opens them merged by time (MainFrame::openMerged).

#include "frame/MainFrame.h"

#include "engine/RemoteAddress.h"
#include "frame/SourceControl.h"
#include "resources/LanguageResources.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

constexpr int EntriesBoxWidth = 560;
constexpr int EntriesBoxLines = 6;

} // namespace

void MainFrame::onFollowRemoteMerged()
{
    const LanguageResources& resources = LanguageResources::current();
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("followRemoteMergedDialog"));
    dialog.setWindowTitle(resources.string(StringId::FollowRemoteMergedCaption));
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro = new QLabel(resources.string(StringId::RemoteMergedIntro), &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* entries = new QPlainTextEdit(&dialog);
    entries->setObjectName(QStringLiteral("remoteEntries"));
    entries->setTabChangesFocus(true);
    entries->setLineWrapMode(QPlainTextEdit::NoWrap);
    entries->setPlainText(property("remoteEntries").toString());
    entries->setMinimumHeight(entries->fontMetrics().lineSpacing() * EntriesBoxLines);
    layout->addWidget(entries);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(EntriesBoxWidth, dialog.sizeHint().height());
    entries->setFocus();
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QString text = entries->toPlainText();
    // Offered again next time, as the Follow Remote File box offers its last file.
    setProperty("remoteEntries", text);
    std::vector<std::u16string> paths;
    QStringList refused;
    // The remote side's bytes: its file names are taken to be UTF-8, as ssh sends them.
    for (const QString& line : text.split(QChar(u'\n'))) {
        std::string entry;
        const RemoteFileError error = mergedEntryFromLine(line.toStdString(), entry);
        if (error != RemoteFileError::None) {
            refused.append(line.trimmed() + QStringLiteral(": ") +
                           SourceControl::remoteFileErrorText(error));
        } else if (!entry.empty()) {
            paths.push_back(QString::fromStdString(entry).toStdU16String());
        }
    }
    if (!refused.isEmpty()) {
        showMessage(resources.format(StringId::RemoteMergedBadLines, refused.join(QChar(u'\n'))));
    }
    openMerged(paths);
}

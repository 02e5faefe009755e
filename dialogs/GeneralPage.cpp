#include "dialogs/GeneralPage.h"

#include "diagnostics/TraceLog.h"
#include "dialogs/ColorChooser.h"
#include "dialogs/FontColorDialog.h"
#include "platform/SafeFile.h"
#include "resources/LanguageResources.h"
#include "resources/ProductInfo.h"
#include "resources/QtText.h"
#include "view/LogRenderer.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QFontInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString displayName(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString fileError(const std::string& path, int error)
{
    return LanguageResources::current().format(StringId::FileError, displayName(path),
                                               QString::fromLocal8Bit(std::strerror(error)));
}

constexpr std::uint32_t DetailedLevel = 3;
constexpr std::uint32_t ErrorLevel = 1;

QString localTime(const char* format, const std::tm& now)
{
    char buffer[128];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &now);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(length));
}

bool writeAll(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

GeneralPage::GeneralPage(QWidget* parent)
    : QWidget(parent), m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    m_form = LanguageResources::current().loadDialog(ResourceId::GeneralPage, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (m_form) {
        layout->addWidget(m_form);
        setWindowTitle(m_form->windowTitle());
    }
    m_preview = LanguageResources::control<QPlainTextEdit>(m_form, ControlId::GeneralPreview);
    m_showLastViewedFileBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::GeneralShowLastViewedFile);
    m_topMostBox = LanguageResources::control<QCheckBox>(m_form, ControlId::GeneralTopMost);
    m_detailedLoggingBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::GeneralDetailedLogging);
    m_showEmptyFilesBox =
        LanguageResources::control<QCheckBox>(m_form, ControlId::GeneralShowEmptyFiles);
    if (m_preview) {
        m_preview->setReadOnly(true);
    }
    const auto connectButton = [this](ControlId id, void (GeneralPage::*handler)()) {
        if (auto* button = LanguageResources::control<QAbstractButton>(m_form, id)) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    connectButton(ControlId::GeneralFont, &GeneralPage::onFont);
    connectButton(ControlId::GeneralBackground, &GeneralPage::onBackgroundColor);
    connectButton(ControlId::GeneralShowTraceLog, &GeneralPage::onShowTraceLog);
}

void GeneralPage::showEvent(QShowEvent* event)
{
    if (!m_initialized) {
        initDialog();
    }
    QWidget::showEvent(event);
}

bool GeneralPage::initDialog()
{
    m_initialized = true;
    SettingsStore& settings = SettingsStore::instance();
    topMost = settings.boolValue(Setting::TopMost) ? 1 : 0;
    showLastViewedFile = settings.boolValue(Setting::ShowLastViewedFile) ? 1 : 0;
    showEmptyFiles = settings.boolValue(Setting::ShowEmptyFiles) ? 1 : 0;
    m_backgroundColor = settings.dword(Setting::BackgroundColor);
    m_textColor = settings.dword(Setting::TextColor);

    // Whatever is stored, the description always holds a defined font: the stored one, or
    // else the one the log view falls back to, so OK never stores an undefined record.
    m_logFont = LogRenderer::defaultFontRecord(logicalDpiY());
    if (settings.boolValue(Setting::IsTextFontSet)) {
        const std::optional<ByteBlock> bytes = settings.font(Setting::TextFont);
        if (bytes && bytes->size() == sizeof(LogFontRecord)) {
            std::memcpy(&m_logFont, bytes->data(), sizeof m_logFont);
        }
    }
    detailedLogging = settings.dword(Setting::LogLevel) > 1 ? 1 : 0;

    if (m_preview) {
        m_preview->setPlainText(buildPreviewText());
    }
    applyPreviewFont();
    applyPreviewColors();
    updateData(false);
    return true;
}

QString GeneralPage::buildPreviewText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return localTime("%x", local) + u' ' + localTime("%X", local) + u'\n' +
           quill::toQString(Product::Name) + QStringLiteral(" - 0123456789\n") +
           QStringLiteral("abcdefgahijklamnopqrstuvwxyz\n") +
           QStringLiteral("ABCDEFGAHIJKLAMNOPQRSTUVWXYZ");
}

void GeneralPage::updateData(bool saveAndValidate)
{
    const std::pair<QCheckBox*, std::int32_t*> boxes[] = {
        {m_showLastViewedFileBox, &showLastViewedFile},
        {m_topMostBox, &topMost},
        {m_detailedLoggingBox, &detailedLogging},
        {m_showEmptyFilesBox, &showEmptyFiles},
    };
    for (const auto& [box, value] : boxes) {
        if (box == nullptr) {
            continue;
        }
        if (saveAndValidate) {
            *value = box->isChecked() ? 1 : 0;
        } else {
            box->setChecked(*value != 0);
        }
    }
}

void GeneralPage::saveStep()
{
    if (!m_initialized) {
        return;
    }
    updateData(true);
    SettingsStore& settings = SettingsStore::instance();
    settings.setDword(Setting::BackgroundColor, m_backgroundColor);
    settings.setDword(Setting::TextColor, m_textColor);
    settings.setFont(Setting::TextFont, m_logFont);
    // A stored font that the view would not read is a lost choice: the view reads TextFont
    // only while this is set.
    if (!settings.boolValue(Setting::IsTextFontSet)) {
        settings.setBool(Setting::IsTextFontSet, true);
    }
    settings.setBool(Setting::TopMost, topMost > 0);
    settings.setBool(Setting::ShowLastViewedFile, showLastViewedFile > 0);
    settings.setBool(Setting::ShowEmptyFiles, showEmptyFiles > 0);
    settings.setDword(Setting::LogLevel, detailedLogging ? DetailedLevel : ErrorLevel);
}

void GeneralPage::applyPreviewFont()
{
    if (m_preview) {
        m_preview->setFont(LogRenderer::fontFromRecord(m_logFont));
    }
}

void GeneralPage::applyPreviewColors()
{
    if (m_preview == nullptr) {
        return;
    }
    const QColor text = quill::colorFromRef(m_textColor);
    const QColor back = quill::colorFromRef(m_backgroundColor);
    QPalette palette = m_preview->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Base, back);
    }
    m_preview->setPalette(palette);
    m_preview->viewport()->update();
}

void GeneralPage::onFont()
{
    FontColorDialog dialog(this);
    QFont font = LogRenderer::fontFromRecord(m_logFont);
    // The chooser lists installed families only; a face that fontconfig substitutes
    // ("Courier New" drawn as Liberation Mono) is preset as the family actually drawn.
    font.setFamily(QFontInfo(font).family());
    dialog.setCurrentFont(font);
    dialog.setCurrentColor(quill::colorFromRef(m_textColor));
    dialog.setSampleBackground(quill::colorFromRef(m_backgroundColor));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    m_textColor = quill::colorRefFrom(dialog.currentColor());
    m_logFont = LogRenderer::recordFromFont(dialog.currentFont(), logicalDpiY());
    applyPreviewFont();
    applyPreviewColors();
}

void GeneralPage::onBackgroundColor()
{
    if (const auto chosen = quill::chooseColor(
            this, quill::colorFromRef(m_backgroundColor),
            LanguageResources::current().string(StringId::BackgroundColourCaption))) {
        m_backgroundColor = quill::colorRefFrom(*chosen);
        applyPreviewColors();
        if (m_preview) {
            m_preview->viewport()->repaint();
        }
    }
}

void GeneralPage::onShowTraceLog()
{
    const std::string path =
        TraceLog::buildPath(SettingsStore::instance().string(Setting::LogFileName));
    const std::string copy = path + ".txt";
    QString reason;
    if (!copyTraceLog(path, copy, &reason)) {
        // A refusal said nothing before; a planted link looked like a button that did not work.
        QMessageBox::warning(
            this, window()->windowTitle(),
            LanguageResources::current().format(StringId::TraceLogRefused, reason));
        return;
    }
    if (m_openUrl) {
        m_openUrl(QUrl::fromLocalFile(displayName(copy)));
    }
}

bool GeneralPage::copyTraceLog(const std::string& source, const std::string& target,
                               QString* reason)
{
    const auto fail = [reason](QString why) {
        if (reason != nullptr) {
            *reason = std::move(why);
        }
        return false;
    };
    const LanguageResources& resources = LanguageResources::current();
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) {
        return fail(fileError(source, errno));
    }
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return fail(resources.format(StringId::CopyNotPlain, displayName(source)));
    }
    const quill::SafeOpenResult out =
        quill::openForWritingSafely(target, quill::SafeOpenMode::Truncate);
    if (!out) {
        ::close(in);
        struct stat link {};
        if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            return fail(resources.format(StringId::CopyIsLink, displayName(target)));
        }
        if (out.status == quill::SafeOpenStatus::OpenFailed ||
            out.status == quill::SafeOpenStatus::TruncateFailed) {
            return fail(fileError(target, out.error));
        }
        return fail(resources.format(StringId::CopyNotPlain, displayName(target)));
    }
    bool ok = true;
    int error = 0;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            error = ok ? 0 : errno;
            break;
        }
        if (!writeAll(out.fd, buffer, static_cast<std::size_t>(got))) {
            ok = false;
            error = errno;
            break;
        }
    }
    ::close(in);
    if (::close(out.fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    return ok ? true : fail(fileError(target, error));
}

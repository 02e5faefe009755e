#pragma once

// GeneralPage: the first page of the settings sheet, built from dialog template 143.
// It edits working copies of the text font, the text and background colours and four
// switches, shows them in a read-only preview (1024), and stores them only in saveStep,
// which the sheet runs when the user confirms.
//
// Controls: 1024 preview, 1017 font (and text colour), 1018 background colour, 1001 show
// the trace log, 1027 ShowLastViewedFile, 1028 TopMost, 1000 detailed trace log (LogLevel
// above 1; stored as 3 or 1), 1029 ShowEmptyFiles.
//
// The fields are loaded when the page is first shown (initDialog); a page never shown
// stores nothing. Main (user-interface) thread only.

#include "settings/SettingsStore.h"

#include <QColor>
#include <QFont>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QAbstractButton;
class QCheckBox;
class QPlainTextEdit;
class QUrl;

class GeneralPage : public QWidget {
    Q_OBJECT
  public:
    // Opens a document with the desktop's default application; the default is
    // QDesktopServices::openUrl. Tests install their own.
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit GeneralPage(QWidget* parent = nullptr);

    bool isInitialized() const { return m_initialized; }
    // Loads the fields from the settings store and fills the controls.
    bool initDialog();
    // true: controls -> fields; false: fields -> controls.
    void updateData(bool saveAndValidate);
    // Writes BackgroundColor, TextColor, TextFont, TopMost, ShowLastViewedFile,
    // ShowEmptyFiles and LogLevel; nothing when the page was never initialised.
    void saveStep();

    void onFont();
    void onBackgroundColor();
    void onShowTraceLog();

    // The preview's text for the current local time: date and time in the user's locale
    // format, the product line and both alphabets, lines ended by "\n".
    static QString buildPreviewText();
    // Copies the trace log byte for byte to target (created 0600 and never through a
    // symbolic link, replacing an older copy of the user's); false when anything failed,
    // with the reason in the user's language in reason when given.
    static bool copyTraceLog(const std::string& source, const std::string& target,
                             QString* reason = nullptr);

    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    ColorRef textColor() const { return m_textColor; }
    ColorRef backgroundColor() const { return m_backgroundColor; }
    const LogFontRecord& fontRecord() const { return m_logFont; }
    QPlainTextEdit* preview() const { return m_preview; }

    std::int32_t showLastViewedFile = 0;
    std::int32_t topMost = 0;
    std::int32_t detailedLogging = 0;
    std::int32_t showEmptyFiles = 0;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void applyPreviewFont();
    void applyPreviewColors();

    QWidget* m_form = nullptr;
    QPlainTextEdit* m_preview = nullptr;
    QCheckBox* m_showLastViewedFileBox = nullptr;
    QCheckBox* m_topMostBox = nullptr;
    QCheckBox* m_detailedLoggingBox = nullptr;
    QCheckBox* m_showEmptyFilesBox = nullptr;
    bool m_initialized = false;
    ColorRef m_backgroundColor = 0;
    ColorRef m_textColor = 0;
    LogFontRecord m_logFont;
    UrlOpener m_openUrl;
};

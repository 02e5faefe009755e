#include "frame/LineDetailsPane.h"

#include "engine/LineDetails.h"
#include "engine/LogDocument.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace {

// The indent of one level of nesting, and how far a wrapped line hangs under its start, in
// average characters.
constexpr qreal IndentChars = 2;
constexpr qreal HangChars = 4;
// The width the pane asks for when first shown, in average characters.
constexpr int PaneChars = 48;

QString faultText(const JsonError& error)
{
    const LanguageResources& texts = LanguageResources::current();
    switch (error.fault) {
    case JsonFault::ExpectedValue:
        return texts.string(StringId::JsonExpectedValue);
    case JsonFault::ExpectedKey:
        return texts.string(StringId::JsonExpectedKey);
    case JsonFault::ExpectedColon:
        return texts.string(StringId::JsonExpectedColon);
    case JsonFault::ExpectedCommaOrEnd:
        return texts.string(StringId::JsonExpectedCommaOrEnd);
    case JsonFault::BadEscape:
        return texts.string(StringId::JsonBadEscape);
    case JsonFault::ControlCharacter:
        return texts.string(StringId::JsonControlCharacter);
    case JsonFault::BadNumber:
        return texts.string(StringId::JsonBadNumber);
    case JsonFault::UnexpectedEnd:
        return texts.string(StringId::JsonUnexpectedEnd);
    case JsonFault::TooDeep:
        return texts.format(StringId::JsonTooDeep, QString::number(JsonMaxDepth));
    case JsonFault::TooLong:
        return texts.format(StringId::JsonTooLong, QString::number(JsonMaxChars));
    case JsonFault::None:
        break;
    }
    return {};
}

} // namespace

LineDetailsPane::LineDetailsPane(MainFrame* frame) : QDockWidget(frame), m_frame(frame)
{
    setObjectName(QStringLiteral("lineDetails"));
    setWindowTitle(LanguageResources::current().string(StringId::LineDetailsTitle));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea | Qt::BottomDockWidgetArea);
    m_text = new QTextEdit(this);
    m_text->setObjectName(QStringLiteral("lineDetailsText"));
    m_text->setReadOnly(true);
    m_text->setUndoRedoEnabled(false);
    m_text->setLineWrapMode(QTextEdit::WidgetWidth);
    // A value without blanks (a token, a path) still wraps rather than widen the pane.
    m_text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setWidget(m_text);
    // The keyboard stays with the log: the pane is read, and selected with the mouse.
    m_text->setFocusPolicy(Qt::ClickFocus);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(30);
    connect(&m_refresh, &QTimer::timeout, this, &LineDetailsPane::refresh);
}

void LineDetailsPane::watch(LogTab* tab)
{
    LogView* view = tab->view();
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    // Appends can complete the caret line; a reload or a clear changes what it holds.
    connect(view, &LogView::statusChanged, this, [this, tab] {
        if (tab == m_frame->currentTab()) {
            refreshSoon();
        }
    });
    // A row of the filter pane chosen moves the log view's caret without a key in the view.
    connect(tab->filterPane(), &FilterPane::lineActivated, this, [this] { refreshSoon(); });
}

bool LineDetailsPane::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        refreshSoon(); // a hidden pane's refresh reads nothing
        break;
    default:
        break;
    }
    return QDockWidget::eventFilter(watched, event);
}

void LineDetailsPane::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    if (event->isAccepted()) {
        SettingsStore::instance().setBool(Setting::LineDetails, false);
        emit closedByUser();
    }
}

void LineDetailsPane::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    if (!m_sized && !isFloating()) {
        m_sized = true;
        const int width = QFontMetrics(m_text->font()).averageCharWidth() * PaneChars;
        m_frame->resizeDocks({this}, {width}, Qt::Horizontal);
    }
    m_shownLine = -1; // what it showed while hidden may be stale
    refresh();
}

void LineDetailsPane::refresh()
{
    if (!isVisible()) {
        return;
    }
    const LanguageResources& texts = LanguageResources::current();
    LogTab* tab = m_frame->currentTab();
    LogDocument* document = tab != nullptr ? tab->document() : nullptr;
    const int caret = tab != nullptr ? tab->view()->caretLine() : -1;
    if (document == nullptr || caret < 0 || LineNumber(caret) >= document->lineCount()) {
        m_shownTab = nullptr;
        m_shownLine = -1;
        showMessage(texts.string(StringId::LineDetailsNoLine));
        return;
    }
    const LineNumber line = LineNumber(caret);
    m_text->document()->setDefaultFont(tab->view()->renderer().font());
    if (document->isLongLine(line)) {
        m_shownTab = nullptr;
        m_shownLine = -1;
        showMessage(texts.format(StringId::LineDetailsTooLong, QString::number(qint64(line) + 1)));
        return;
    }
    std::vector<std::u16string> lines;
    document->lines({line}, lines);
    if (tab == m_shownTab && std::int64_t(line) == m_shownLine && lines[0] == m_shownText) {
        return;
    }
    m_shownTab = tab;
    m_shownLine = std::int64_t(line);
    m_shownText = std::move(lines[0]);
    showDetails(m_shownLine, analyzeLine(m_shownText), m_shownText);
}

void LineDetailsPane::showMessage(const QString& text)
{
    if (m_text->toPlainText() != text) {
        m_text->setPlainText(text);
    }
}

void LineDetailsPane::showDetails(std::int64_t line, const LineDetails& details,
                                  const std::u16string& text)
{
    const LanguageResources& texts = LanguageResources::current();
    const QString number = QString::number(line + 1);
    QTextDocument* document = m_text->document();
    document->clear();
    const QFontMetricsF metrics(document->defaultFont());
    const qreal indent = metrics.averageCharWidth() * IndentChars;
    const qreal hang = metrics.averageCharWidth() * HangChars;
    QTextCursor cursor(document);
    bool first = true;
    const auto addBlock = [&](const QString& blockText, qreal margin, qreal hanging,
                              bool keepWhole) {
        QTextBlockFormat format;
        format.setLeftMargin(margin + hanging);
        format.setTextIndent(-hanging);
        format.setNonBreakableLines(keepWhole);
        if (first) {
            cursor.setBlockFormat(format);
            first = false;
        } else {
            cursor.insertBlock(format);
        }
        cursor.insertText(blockText);
    };

    QString heading;
    switch (details.kind) {
    case LineDetails::Kind::Nothing:
        heading = texts.format(StringId::LineDetailsNothing, number);
        break;
    case LineDetails::Kind::Json:
        heading = texts.format(StringId::LineDetailsJson, number);
        break;
    case LineDetails::Kind::KeyValues:
        heading = texts.format(StringId::LineDetailsPairs, number);
        break;
    case LineDetails::Kind::AlmostJson:
        break;
    }
    if (!heading.isEmpty()) {
        addBlock(heading, 0, 0, false);
        addBlock(QString(), 0, 0, false);
    }

    const std::vector<PrintedLine> printed = detailLines(details);
    const std::size_t shown = std::min<std::size_t>(printed.size(), MaxShownLines);
    for (std::size_t i = 0; i < shown; ++i) {
        addBlock(quill::toQString(printed[i].text), indent * printed[i].depth, hang, false);
    }
    if (shown < printed.size()) {
        addBlock(texts.format(StringId::LineDetailsMoreLines,
                              QString::number(qulonglong(printed.size() - shown))),
                 0, 0, false);
    }

    if (details.error.fault != JsonFault::None) {
        if (!printed.empty()) {
            addBlock(QString(), 0, 0, false);
        }
        const JsonError& error = details.error;
        const Excerpt excerpt = excerptAt(text, error.offset);
        const QString column = QString::number(qulonglong(error.offset) + 1);
        addBlock(texts.format(StringId::LineDetailsStopped, number, column, faultText(error)), 0, 0,
                 false);
        const QString ellipsis(QChar(0x2026));
        QString piece = quill::toQString(excerpt.text);
        qsizetype caretColumn = qsizetype(excerpt.caretColumn);
        if (excerpt.cutBefore) {
            piece.prepend(ellipsis);
            ++caretColumn;
        }
        if (excerpt.cutAfter) {
            piece.append(ellipsis);
        }
        // The piece and its caret never wrap, so the caret stays under its character.
        addBlock(piece, 0, 0, true);
        addBlock(QString(caretColumn, QLatin1Char(' ')) + QLatin1Char('^'), 0, 0, true);
    }
    m_text->moveCursor(QTextCursor::Start);
}

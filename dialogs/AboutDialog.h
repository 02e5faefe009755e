#pragma once

// The About box (command 57664), built from dialog template 100 of the language package:
// product line 1002 ("Quillstream - " + string 133 + the version text), texts 1004 and 1005
// (strings 138, 141), caption string 136 with the product name. Control 1003 stays hidden
// and only lends its rectangle, text and font to the legal notice, which the dialog paints
// as a hyperlink: over it the mouse shows the link cursor (cursor 282), and a left click
// anywhere in the control's rectangle opens the maker's web site while the wait cursor
// shows for two seconds, without blocking the window.
//
// Construct, then exec() (or doModal()); the dialog owns everything it creates. Main
// (user-interface) thread only.

#include <QCursor>
#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QLabel;

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    int doModal() { return exec(); }

    // Light blue on a dark button face (brightness below 300), strong blue otherwise. The
    // brightness is red + green + blue / 2, the division applying to blue alone.
    static QColor linkColorFor(const QColor& buttonFace);
    // Control 1003's rectangle in the dialog's coordinates; empty when the template lacks it.
    QRect linkRect() const;
    QString legalNotice() const { return m_legalNotice; }
    bool isLinkCursorShown() const { return m_linkCursorShown; }

    // Seams: how the web site is opened (default QDesktopServices::openUrl) and how long the
    // wait cursor stays (default 2000 ms).
    void setUrlOpener(std::function<void(const QUrl&)> opener) { m_openUrl = std::move(opener); }
    void setWaitMilliseconds(int milliseconds) { m_waitMilliseconds = milliseconds; }

  protected:
    bool initDialog();
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    // Point in the dialog's coordinates: the link cursor over the link, the saved one off it.
    void updateLinkCursor(const QPoint& point);
    void restoreCursor();
    void endWait();

    QString m_productLine;
    QString m_legalNotice;
    QString m_text1;
    QString m_text2;
    std::optional<QCursor> m_linkCursor;
    // What the link cursor replaced: the dialog's own cursor, or none (inherited).
    bool m_linkCursorShown = false;
    bool m_hadOwnCursor = false;
    QCursor m_savedCursor;
    QWidget* m_form = nullptr;
    QLabel* m_link = nullptr;
    std::function<void(const QUrl&)> m_openUrl;
    int m_waitMilliseconds = 2000;
    int m_pendingWaits = 0;
};

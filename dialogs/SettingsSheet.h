#pragma once

// SettingsSheet: the modal settings sheet with two tabs, General (GeneralPage)
// and Keywords (KeywordsPage), and OK and cancel (no Apply). The pages work on copies;
// nothing is stored before OK (the keyword list's column widths aside, which are stored
// whenever the list goes away).
//
//     SettingsSheet sheet(9, parent);
//     sheet.setSoundService(sound);
//     if (sheet.doModal() == SettingsSheet::IDOK) {
//         sheet.saveAll();               // once more: saving the same values changes nothing
//         ... apply the new settings ...
//     }
//
// OK confirms every page that has been shown, and each confirmation runs saveAll; a page
// never shown stores nothing. Main (user-interface) thread only.

#include <QDialog>

class GeneralPage;
class KeywordsPage;
class QPushButton;
class QTabWidget;
class SoundService;

class SettingsSheet : public QDialog {
    Q_OBJECT
  public:
    enum { IDOK = 1, IDCANCEL = 2 };

    // Caption: string captionId; selectPage: the tab shown when the sheet opens.
    explicit SettingsSheet(int captionId, QWidget* parent = nullptr, int selectPage = 0);
    ~SettingsSheet() override;

    // The service that plays the Keywords page's sound file (not owned).
    void setSoundService(SoundService* sound);

    int doModal();
    // The General page's save step, then the Keywords page's.
    void saveAll();

    GeneralPage* generalPage() const { return m_pageGeneral; }
    KeywordsPage* keywordsPage() const { return m_pageKeywords; }
    QTabWidget* tabs() const { return m_tabs; }

  public slots:
    void accept() override;

  private:
    QTabWidget* m_tabs = nullptr;
    GeneralPage* m_pageGeneral = nullptr;
    KeywordsPage* m_pageKeywords = nullptr;
};

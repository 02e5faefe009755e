#pragma once

// CPropSheetSettings: the modal settings sheet with two tabs, General (CPropPageGeneral)
// and Keywords (CPropPageKeywords), and OK and Cancel (no Apply). The pages work on copies;
// nothing is stored before OK (the keyword list's column widths aside, which are stored
// whenever the list goes away).
//
//     CPropSheetSettings sheet(9, parent);
//     sheet.setSoundService(sound);
//     if (sheet.DoModal() == CPropSheetSettings::IDOK) {
//         sheet.SaveAll();               // once more: saving the same values changes nothing
//         ... apply the new settings ...
//     }
//
// OK confirms every page that has been shown, and each confirmation runs SaveAll; a page
// never shown stores nothing. Main (user-interface) thread only.

#include <QDialog>

class CPropPageGeneral;
class CPropPageKeywords;
class QPushButton;
class QTabWidget;
class SoundService;

class CPropSheetSettings : public QDialog {
    Q_OBJECT
  public:
    enum { IDOK = 1, IDCANCEL = 2 };

    // Caption: string captionId; selectPage: the tab shown when the sheet opens.
    explicit CPropSheetSettings(int captionId, QWidget* parent = nullptr, int selectPage = 0);
    ~CPropSheetSettings() override;

    // The service that plays the Keywords page's sound file (not owned).
    void setSoundService(SoundService* sound);

    int DoModal();
    // The General page's save step, then the Keywords page's.
    void SaveAll();

    CPropPageGeneral* generalPage() const { return m_pageGeneral; }
    CPropPageKeywords* keywordsPage() const { return m_pageKeywords; }
    QTabWidget* tabs() const { return m_tabs; }

  public slots:
    void accept() override;

  private:
    QTabWidget* m_tabs = nullptr;
    CPropPageGeneral* m_pageGeneral = nullptr;
    CPropPageKeywords* m_pageKeywords = nullptr;
};

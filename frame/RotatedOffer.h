#pragma once

// RotatedOffer: the bar at the top of a tab whose log has rotated files beside it
// (engine/RotatedSiblings.h): "app.log has 3 older rotated files beside it. [Add them]
// [Not now] [Don't ask again]". It asks nothing modal, so opening files all day costs no
// clicks; Add them turns the tab into the rotated set (SourceControl::openRotated), Don't ask
// again turns the offer off (Setting::OfferRotated). The bar goes once answered, and with
// its tab. Main thread only.

#include <QFrame>

#include <string>

class LogTab;
class MainFrame;
class QLabel;

class RotatedOffer : public QFrame {
    Q_OBJECT
  public:
    // Shows the bar in tab when the offer is on and the file at path (native bytes, shown
    // as name) has rotated files beside it; a bar the tab shows already goes first.
    static RotatedOffer* offer(MainFrame& frame, LogTab* tab, const std::string& path,
                               const QString& name);

    // Takes away the bar tab shows, if any.
    static void dismiss(LogTab* tab);

  private:
    RotatedOffer(MainFrame& frame, LogTab* tab, std::string path, QString name, int count);
    void add();
    void neverAsk();

    MainFrame& m_frame;
    LogTab* m_tab;
    std::string m_path;
    QString m_name;
};

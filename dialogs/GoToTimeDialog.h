#pragma once

// The Go to Time box: one field for a time as parseTimeQuery reads it (a date and time, a
// time of day, or a span before the last line), OK and Cancel. OK is enabled only while the
// field holds a time, so Enter never goes somewhere the user did not mean. Texts are strings
// 500-501 of the language package. User-interface thread only.

#include "engine/LineTime.h"

#include <QDialog>

#include <optional>

class QLineEdit;

class GoToTimeDialog : public QDialog {
    Q_OBJECT
  public:
    explicit GoToTimeDialog(QWidget* parent);

    // What the field asks for; nothing while it holds no time.
    std::optional<TimeQuery> chosenQuery() const;
    QString text() const;

  private:
    QLineEdit* m_field = nullptr;
};

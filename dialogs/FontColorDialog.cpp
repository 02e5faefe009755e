#include "dialogs/FontColorDialog.h"

#include "dialogs/ColorChooser.h"
#include "resources/LanguageResources.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

// Shows the families whose glyphs all advance alike in bold, with a mark after the name.
class FixedPitchMarker : public QStyledItemDelegate {
  public:
    FixedPitchMarker(QString mark, QObject* parent)
        : QStyledItemDelegate(parent), m_mark(std::move(mark))
    {
    }

    QString displayText(const QVariant& value, const QLocale& locale) const override
    {
        const QString family = value.toString();
        return isFixed(family) ? family + m_mark : QStyledItemDelegate::displayText(value, locale);
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (isFixed(index.data(Qt::DisplayRole).toString())) {
            option->font.setBold(true);
        }
    }

  private:
    bool isFixed(const QString& family) const
    {
        auto it = m_fixed.constFind(family);
        if (it == m_fixed.constEnd()) {
            it = m_fixed.insert(family, QFontDatabase::isFixedPitch(family));
        }
        return *it;
    }

    QString m_mark;
    mutable QHash<QString, bool> m_fixed;
};

} // namespace

FontColorDialog::FontColorDialog(QWidget* parent) : QDialog(parent)
{
    const LanguageResources& resources = LanguageResources::current();
    setWindowTitle(resources.string(StringId::FontCaption));

    m_fontChooser = new QFontDialog(this);
    m_fontChooser->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    m_fontChooser->setWindowFlags(Qt::Widget);
    m_fontChooser->setSizeGripEnabled(false);
    // The family list is the first list the chooser builds (then styles, then sizes).
    const QList<QListView*> lists = m_fontChooser->findChildren<QListView*>();
    if (!lists.isEmpty()) {
        lists.first()->setItemDelegate(
            new FixedPitchMarker(resources.string(StringId::FixedPitchMark), lists.first()));
    }
    // The sample line sits in the chooser's sample group box.
    for (QLineEdit* edit : m_fontChooser->findChildren<QLineEdit*>()) {
        if (qobject_cast<QGroupBox*>(edit->parentWidget())) {
            m_sample = edit;
        }
    }
    connect(m_fontChooser, &QFontDialog::currentFontChanged, this, &FontColorDialog::updateSample);
    // The chooser handles Enter and Escape itself, as the dialog it was made to be: it
    // would close only itself and leave this window empty. Its answer is the whole
    // dialog's, and it stays in place for the next showing.
    connect(m_fontChooser, &QDialog::finished, this, [this](int result) {
        m_fontChooser->setVisible(true);
        done(result == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected);
    });

    m_colorButton = new QPushButton(resources.string(StringId::TextColourButton), this);
    m_colorButton->setObjectName(QStringLiteral("textColorButton"));
    connect(m_colorButton, &QPushButton::clicked, this, &FontColorDialog::chooseColor);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok =
        buttons->addButton(resources.string(StringId::Ok), QDialogButtonBox::AcceptRole);
    ok->setObjectName(LanguageResources::controlName(ControlId::Ok));
    ok->setDefault(true);
    buttons->addButton(resources.string(StringId::Cancel), QDialogButtonBox::RejectRole)
        ->setObjectName(LanguageResources::controlName(ControlId::Cancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_colorButton);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_fontChooser);
    layout->addLayout(bottom);
    updateSample();
}

void FontColorDialog::setCurrentFont(const QFont& font)
{
    m_fontChooser->setCurrentFont(font);
    updateSample();
}

QFont FontColorDialog::currentFont() const
{
    return m_fontChooser->currentFont();
}

void FontColorDialog::setCurrentColor(const QColor& color)
{
    m_color = color;
    updateSample();
}

void FontColorDialog::setSampleBackground(const QColor& color)
{
    m_background = color;
    updateSample();
}

void FontColorDialog::chooseColor()
{
    if (const std::optional<QColor> chosen = quill::chooseColor(
            this, m_color, LanguageResources::current().string(StringId::TextColourCaption))) {
        setCurrentColor(*chosen);
    }
}

void FontColorDialog::updateSample()
{
    if (m_colorButton) {
        m_colorButton->setIcon(quill::colorSwatchIcon(m_color));
    }
    if (m_sample) {
        QPalette palette = m_sample->palette();
        for (QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Text, m_color);
            palette.setColor(group, QPalette::Base, m_background);
        }
        m_sample->setPalette(palette);
    }
}

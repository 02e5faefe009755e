#include "resources/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <memory>

namespace {

QPointer<QTranslator> s_installed;

// "DE" -> "de", "pt-BR" -> "pt_BR": the form of Qt's locale names and file suffixes.
QString localeName(const QString& code)
{
    QString name = code;
    name.replace(u'-', u'_');
    const qsizetype cut = name.indexOf(u'_');
    if (cut < 0) {
        return name.toLower();
    }
    return name.left(cut).toLower() + name.mid(cut).toUpper();
}

} // namespace

QString installQtTranslations(const QString& code, const QString& folder)
{
    if (s_installed) {
        QCoreApplication::removeTranslator(s_installed);
        delete s_installed;
    }
    const QString name = localeName(code);
    if (name.isEmpty() || name == QLatin1String("en") || name.startsWith(QLatin1String("en_"))) {
        return {};
    }
    const QLocale locale(name);
    // An unknown name gives the C locale, whose files would be English at best.
    if (locale.language() == QLocale::C) {
        return {};
    }
    const QString where =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), where)) {
        return {};
    }
    QCoreApplication::installTranslator(translator.get());
    s_installed = translator.release();
    return s_installed->filePath();
}

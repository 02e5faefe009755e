#include "resources/ResourceHandler.h"

#include "diagnostics/TraceLog.h"
#include "resources/LanguageResources.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <link.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString FallbackLanguage = QStringLiteral("EN");

QString readExecutablePath()
{
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(length));
    return QFile::decodeName(QByteArray::fromStdString(buffer));
}

// The loader keeps errno to itself and only words its reason, so the number is recovered
// from the text: its reasons end with the system's own wording of the errno behind them.
int loaderErrorNumber(const QString& path, const char* reason)
{
    const QByteArray text = reason ? QByteArray(reason) : QByteArray();
    for (int candidate : {ENOENT, ENOTDIR, EACCES, EISDIR, ELOOP, ENAMETOOLONG, ENOMEM, EPERM}) {
        if (text.endsWith(QByteArray(std::strerror(candidate)))) {
            return candidate;
        }
    }
    if (path.contains(QLatin1Char('/'))) {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
            return errno;
        }
    }
    return ENOEXEC;
}

// A code becomes part of a file name; one that could leave the package folder is not a
// language code at all.
bool isUsableCode(const QString& code)
{
    return !code.contains(QLatin1Char('/')) && !code.contains(QChar(0)) &&
           code != QLatin1String(".") && code != QLatin1String("..");
}

QString withTrailingSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

ResourceHandler::ResourceHandler(SettingsStore* store, TraceLog* log)
    : m_store(store), m_log(log), m_reportFailure(&ResourceHandler::showFailureMessage)
{
    setExecutablePath(readExecutablePath());
}

ResourceHandler::~ResourceHandler()
{
    freeResourceDll();
}

SettingsStore& ResourceHandler::store() const
{
    return m_store ? *m_store : SettingsStore::instance();
}

TraceLog& ResourceHandler::log() const
{
    return m_log ? *m_log : TraceLog::instance();
}

QString ResourceHandler::settingText(unsigned id) const
{
    return QString::fromStdU16String(store().string(id));
}

void ResourceHandler::setExecutablePath(const QString& path)
{
    m_executablePath = path;
    m_modulePrefix = modulePrefix(path);
}

void ResourceHandler::setFailureReporter(FailureReporter reporter)
{
    m_reportFailure = std::move(reporter);
}

void ResourceHandler::showFailureMessage(const QString& text)
{
    QMessageBox::warning(nullptr, QStringLiteral("Quillstream"), text, QMessageBox::Ok);
}

QString ResourceHandler::modulePrefix(const QString& executablePath)
{
    QString name = executablePath.section(QLatin1Char('/'), -1);
    qsizetype cut = name.indexOf(QLatin1String(".exe"), 0, Qt::CaseSensitive);
    if (cut < 0) {
        cut = name.indexOf(QLatin1String(".EXE"), 0, Qt::CaseSensitive);
    }
    if (cut >= 0) {
        name.truncate(cut);
    }
    if (name.isEmpty()) {
        // Without /proc the name the program was started under is the best we have.
        name = QString::fromLocal8Bit(program_invocation_short_name);
    }
    return name + QLatin1Char('_');
}

QString ResourceHandler::defaultLanguage()
{
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) {
            continue;
        }
        QString name = QString::fromLatin1(value);
        const qsizetype end = name.indexOf(QRegularExpression(QStringLiteral("[_.@:]")));
        if (end >= 0) {
            name.truncate(end);
        }
        if (name == QLatin1String("C") || name == QLatin1String("POSIX")) {
            return {};
        }
        for (QChar c : name) {
            if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                  (c >= QLatin1Char('A') && c <= QLatin1Char('Z')))) {
                return {};
            }
        }
        return name.toUpper();
    }
    return {};
}

bool ResourceHandler::loadLanguageResources()
{
    QString code = settingText(Setting::GuiLanguage);
    if (code.isEmpty()) {
        code = defaultLanguage();
    }
    // Without a language from the settings or the locale (a plain C locale) there is no
    // package to try but the fall-back; an attempt at "quillstream_.dll" would only write a
    // failure line at every start.
    if (code.isEmpty()) {
        code = FallbackLanguage;
    }
    if (loadLanguage(code)) {
        m_language = code;
        return true;
    }
    if (code != FallbackLanguage && loadLanguage(FallbackLanguage)) {
        m_language = FallbackLanguage;
        return true;
    }
    if (m_reportFailure) {
        m_reportFailure(QStringLiteral("Failed to load resource DLL for language: ") +
                        FallbackLanguage);
    }
    return false;
}

bool ResourceHandler::loadLanguage(const QString& code)
{
    if (loadResourceDll(code) != Loaded) {
        return false;
    }
    setHelpPath(code);
    return true;
}

QString ResourceHandler::buildResourceDllPath(const QString& code) const
{
    QString folder = settingText(Setting::ResourceDllPath);
    QString prefix = settingText(Setting::ResourceDllPrefix);
    if (prefix.isEmpty()) {
        prefix = m_modulePrefix;
    }
    if (folder == QLatin1String(".")) {
        folder = m_executablePath.left(m_executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    } else if (!folder.isEmpty()) {
        folder = withTrailingSlash(folder);
    }
    return folder + prefix + code + QLatin1String(".dll");
}

QString ResourceHandler::buildHelpFilePath(const QString& code) const
{
    const QString folder = settingText(Setting::HelpFilePath);
    QString prefix = settingText(Setting::HelpFilePrefix);
    if (prefix.isEmpty()) {
        prefix = m_modulePrefix;
    }
    // The separator is added to an empty folder too: the default help file sits at the root.
    return withTrailingSlash(folder) + prefix + code + QLatin1String(".chm");
}

void ResourceHandler::setHelpPath(const QString& code)
{
    m_helpPath = buildHelpFilePath(code);
    // Lexical, like the original full-path operation: the file need not exist.
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(std::filesystem::path(m_helpPath.toStdString()), error);
    if (!error) {
        m_helpPath = QString::fromStdString(absolute.lexically_normal().string());
    }
    log().line(TraceLog::LevelInfo, u"Help-path: ", m_helpPath.toStdU16String());
}

int ResourceHandler::loadResourceDll(const QString& code)
{
    if (!isUsableCode(code)) {
        // One line, with no blank between the path and "error code: ".
        log().line(TraceLog::LevelAlways, u"Failed not load resource DLL: ",
                   buildResourceDllPath(code).toStdU16String(),
                   "error code: ", std::int64_t{EINVAL});
        return Failed;
    }
    return loadResourceDllFromPath(buildResourceDllPath(code));
}

int ResourceHandler::loadResourceDllFromPath(const QString& path)
{
    freeResourceDll();

    void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    const char* reason = handle ? nullptr : ::dlerror();
    int error = handle ? 0 : loaderErrorNumber(path, reason);

    // A module of the right name that is not one of our packages would leave the program
    // without resources; it is refused like a module that cannot be mapped.
    QString root;
    if (handle) {
        using RootFunction = const char* (*)();
        using FormatFunction = int (*)();
        auto rootOf = reinterpret_cast<RootFunction>(::dlsym(handle, "quillLanguagePackageRoot"));
        auto formatOf =
            reinterpret_cast<FormatFunction>(::dlsym(handle, "quillLanguagePackageFormat"));
        if (rootOf && formatOf && formatOf() == 1 && rootOf()) {
            root = QString::fromUtf8(rootOf());
        }
        if (root.isEmpty()) {
            ::dlclose(handle);
            handle = nullptr;
            reason = "not a language package of this program";
            error = ENOEXEC;
        }
    }

    log().line(TraceLog::LevelInfo,
               "ResourceHandler::LoadResourceDllFromPath(): load resource DLL:\n",
               "path: ", path.toStdU16String(),
               " result: ", static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(handle)));
    // A bare name is found by the loader's search (the executable's RUNPATH first); which
    // file that was is what a broken installation needs to know.
    struct link_map* map = nullptr;
    if (handle && ::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
        log().line(TraceLog::LevelInfo, "module file: ", std::string_view(map->l_name));
    }

    if (!handle) {
        m_loaded = false;
        m_module = nullptr;
        log().line(TraceLog::LevelAlways, u"Failed not load resource DLL: ", path.toStdU16String(),
                   "error code: ", std::int64_t{error});
        if (reason) {
            log().line(TraceLog::LevelError, "reason: ", reason);
        }
        return (error == ENOENT || error == ENOTDIR) ? NotFound : Failed;
    }

    m_loaded = true;
    m_module = handle;
    m_packageRoot = root;
    LanguageResources::current().setRoot(root);
    return Loaded;
}

void ResourceHandler::freeResourceDll()
{
    if (!m_loaded) {
        return;
    }
    // The bundle disappears with the module; nothing may look it up afterwards.
    if (LanguageResources::current().root() == m_packageRoot) {
        LanguageResources::current().setRoot({});
    }
    ::dlclose(m_module);
    m_loaded = false;
    m_module = nullptr;
    m_packageRoot.clear();
}

// quillstream: follows one log file while other programs write to it.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/SignalBridge.h"
#include "platform/InstanceChannel.h"
#include "resources/ProductInfo.h"
#include "resources/QtText.h"
#include "resources/ResourceHandler.h"
#include "resources/VersionInfo.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A display to show windows on, or a platform the user chose explicitly (offscreen, vnc).
// Without one, QApplication would abort before the program could say anything.
bool hasDisplay()
{
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

void printText(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    if (!bytes.endsWith('\n')) {
        std::fputc('\n', stream);
    }
    std::fflush(stream);
}

// The help switch without a display: the usual start-up up to the usage text, which goes to
// standard output instead of a box.
int printUsage(int argc, char* argv[], const std::vector<std::string>& args)
{
    QCoreApplication coreApp(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillstream"));
    Application app;
    app.setUsagePresenter([](const QString& text) { printText(stdout, text); });
    app.resourceHandler().setFailureReporter([](const QString& text) { printText(stderr, text); });
    app.initInstance(args);
    return app.exitInstance();
}

} // namespace

int main(int argc, char* argv[])
{
    // Decided before QApplication exists: neither needs a window.
    const CommandLineInfo early = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (early.showVersion) {
        printText(stdout,
                  quill::toQString(Product::Name) + u' ' + quill::toQString(releaseVersionText()));
        return 0;
    }
    if (early.showHelp && !hasDisplay()) {
        return printUsage(argc, argv, std::vector<std::string>(argv + 1, argv + argc));
    }

    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillstream"));
    QApplication::setDesktopFileName(QString::fromLatin1(Product::DesktopId));

    // QApplication has taken its own options out of argv; the rest is ours. Bytes, not
    // text: a file name on this platform need not be valid in any encoding.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }

    int exitCode = 0;
    {
        Application app;
        // One window a display: a later start hands its files to this one.
        app.setInstanceSocket(quill::instanceSocketPath(std::getenv("XDG_RUNTIME_DIR"),
                                                        std::getenv("WAYLAND_DISPLAY"),
                                                        std::getenv("DISPLAY")));
        SignalBridge signalBridge;
        QObject::connect(&signalBridge, &SignalBridge::terminationRequested, &app,
                         [&app](int) { app.requestClose(); });
        app.setTerminationPending(&SignalBridge::isPending);
        // A signal during start-up ends it where it is (a box shown, a file opened); the
        // main loop is not entered then.
        if (app.initInstance(args) && !app.isTerminating()) {
            exitCode = QApplication::exec();
            // The window is closed: the document was closed with it and its watcher is
            // stopped; now the shutdown of the application itself.
            const int exitInstance = app.exitInstance();
            exitCode = exitCode != 0 ? exitCode : exitInstance;
        } else {
            exitCode = app.exitInstance();
        }
    }
    return exitCode;
}

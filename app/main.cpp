// quillstream: follows one log file while other programs write to it.

#include "app/Application.h"
#include "app/SignalBridge.h"
#include "resources/ProductInfo.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillstream"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillstream"));
    QApplication::setDesktopFileName(QString::fromLatin1(Product::DesktopId));

    // QApplication has taken its own options out of argv; the rest is ours. Bytes, not
    // text: a file name on this platform need not be valid in any encoding.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }

    int exitCode = 0;
    {
        CBrackenlyApp app;
        SignalBridge signalBridge;
        QObject::connect(&signalBridge, &SignalBridge::terminationRequested, &app,
                         [&app](int) { app.requestClose(); });
        if (app.InitInstance(args)) {
            exitCode = QApplication::exec();
            // The window is closed: the document was closed with it and its watcher is
            // stopped; now the shutdown of the application itself.
            const int exitInstance = app.ExitInstance();
            exitCode = exitCode != 0 ? exitCode : exitInstance;
        } else {
            exitCode = app.ExitInstance();
        }
    }
    return exitCode;
}

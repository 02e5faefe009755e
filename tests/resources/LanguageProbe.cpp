// A stand-in for the program's start-up as far as the language goes: it chooses and loads
// the language package exactly as the program does, from wherever it was copied to and
// under whatever name, and prints what happened. The tests run copies of it.

#include "resources/LanguageResources.h"
#include "resources/ResourceHandler.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ResourceHandler handler;
    handler.setFailureReporter(
        [](const QString& text) { std::printf("message=%s\n", text.toUtf8().constData()); });
    const bool loaded = handler.loadLanguageResources();
    std::printf("prefix=%s\n", handler.modulePrefix().toUtf8().constData());
    std::printf("loaded=%d\n", loaded ? 1 : 0);
    if (loaded) {
        std::printf("language=%s\n", handler.language().toUtf8().constData());
        std::printf("help=%s\n", handler.helpPath().toUtf8().constData());
        std::printf("string9=%s\n", LanguageResources::current().string(9).toUtf8().constData());
    }
    return loaded ? 0 : 1;
}

// GoogleTest entry for tests that need Qt's widgets: one QApplication for the whole run, on
// the offscreen platform unless the caller chose another.

#include <QApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Start-up follows standard input when it is a pipe; whatever runs the tests may hand
    // them one, and no widget test means to read it.
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, 0);
        ::close(nothing);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#pragma once

// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that a terminated
// program closes the way a closed window does (position stored, "ExitInstance" traced,
// recent files saved). The handler only writes one byte into a pipe (async-signal-safe);
// a QSocketNotifier on the pipe's other end emits terminationRequested. It also raises a
// lock-free flag (isPending) for code that runs without the event loop.
//
// One object per process, created on the main thread after QCoreApplication; the handlers
// are restored to the defaults when it is destroyed.

#include <QObject>

class QSocketNotifier;

class SignalBridge : public QObject {
    Q_OBJECT
  public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

    bool isInstalled() const { return m_notifier != nullptr; }
    // True from the moment a signal arrives until terminationRequested has been emitted
    // for it: work that keeps the event loop from running (indexing a huge file at start-up
    // or on a reload) asks this to end early. Any thread.
    static bool isPending();

  signals:
    // Emitted once per received signal; a second signal while the first is handled is
    // still delivered.
    void terminationRequested(int signalNumber);

  private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

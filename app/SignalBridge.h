#pragma once

// Turns SIGTERM and SIGINT into a Qt signal on the main thread, so that a terminated
// program closes the way a closed window does (position stored, "ExitInstance" traced,
// recent files saved). The handler only writes one byte into a pipe (async-signal-safe);
// a QSocketNotifier on the pipe's other end emits terminationRequested.
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

  signals:
    // Emitted once per received signal; a second signal while the first is handled is
    // still delivered.
    void terminationRequested(int signalNumber);

  private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

#pragma once

// The running window's end of the channel of platform/InstanceChannel.h: a later start of
// the program on the same display hands its files, its standard input and its command here
// and ends, and they open as tabs of this window.
//
// claim() decides at start-up, under a lock so that two starts at the same moment agree:
// a window that answers takes the request (this process is done); a socket nobody listens
// on any more (its process crashed) is removed and this process listens in its place; a
// window that does not answer leaves this one to run alone. A request that is garbage, too
// long or too slow is dropped without an answer. Main thread only.

#include "platform/InstanceChannel.h"

#include <QLocalServer>

#include <functional>
#include <string>

class InstanceServer : public QLocalServer {
    Q_OBJECT
  public:
    // fd: the standard input that came with the request, or -1; the handler may use it
    // only while it runs (it is closed afterwards).
    using Handler = std::function<void(const quill::InstanceRequest& request, int fd)>;
    explicit InstanceServer(Handler handler, QObject* parent = nullptr);
    ~InstanceServer() override;

    enum class Claim { HandedOver, Listening, Alone };
    // message: this start's request, sent with fd (-1: none) to a window already running.
    Claim claim(const std::string& path, const std::string& message, int fd);

    // How long a window is given to answer, and a connection to bring its request (tests).
    static constexpr int AnswerTimeoutMs = 10000;
    static constexpr int RequestTimeoutMs = 5000;

  protected:
    void incomingConnection(quintptr socketDescriptor) override;

  private:
    class Connection;
    void finished(Connection* connection);

    Handler m_handler;
};

#include "app/InstanceServer.h"

#include "diagnostics/TraceLog.h"

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

// One connection: its bytes are read here with recvmsg, never through QLocalSocket, whose
// reads would drop the descriptor that comes along with them.
class InstanceServer::Connection : public QObject {
  public:
    Connection(InstanceServer* server, int socket)
        : QObject(server), m_server(server), m_socket(socket),
          m_notifier(socket, QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { read(); });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { drop("Request too slow"); });
        m_timer.start(RequestTimeoutMs);
    }

    ~Connection() override
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        ::close(m_socket);
    }

  private:
    void read()
    {
        for (;;) {
            const long got = quill::receiveSome(m_socket, m_buffer, &m_fd);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            }
            if (got <= 0) {
                drop("Request cut short");
                return;
            }
            const quill::DecodedRequest decoded = quill::decodeRequest(m_buffer);
            if (decoded.state == quill::DecodeState::Bad) {
                drop("Request refused");
                return;
            }
            if (decoded.state == quill::DecodeState::Complete) {
                take(decoded.request);
                return;
            }
        }
    }

    void take(const quill::InstanceRequest& request)
    {
        m_notifier.setEnabled(false);
        m_timer.stop();
        const char answer = quill::RequestTaken;
        ::send(m_socket, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        TraceLog::instance().line(TraceLog::LevelInfo, "Request from another start: ",
                                  std::uint32_t(request.files.size()), " files");
        // Opened from the event loop, not from within this notifier: an open may show a box.
        const int fd = m_fd;
        m_fd = -1;
        QPointer<InstanceServer> server = m_server;
        QTimer::singleShot(0, m_server, [server, request, fd] {
            if (server && server->m_handler) {
                server->m_handler(request, fd);
            }
            if (fd >= 0) {
                ::close(fd);
            }
        });
        m_server->finished(this);
    }

    void drop(const char* why)
    {
        m_notifier.setEnabled(false);
        m_timer.stop();
        TraceLog::instance().line(TraceLog::LevelInfo, why);
        m_server->finished(this);
    }

    InstanceServer* m_server;
    int m_socket;
    QSocketNotifier m_notifier;
    QTimer m_timer;
    std::string m_buffer;
    int m_fd = -1;
};

InstanceServer::InstanceServer(Handler handler, QObject* parent)
    : QLocalServer(parent), m_handler(std::move(handler))
{
}

InstanceServer::~InstanceServer() = default;

InstanceServer::Claim InstanceServer::claim(const std::string& path, const std::string& message,
                                            int fd)
{
    if (path.empty()) {
        return Claim::Alone;
    }
    // Held until this process listens or has handed over: of two starts at the same moment
    // the second finds the first listening.
    const int lock = quill::lockInstance(path + ".lock");
    Claim claim = Claim::Alone;
    switch (quill::sendRequest(path, message, fd, AnswerTimeoutMs)) {
    case quill::SendResult::Taken:
        claim = Claim::HandedOver;
        break;
    case quill::SendResult::NoListener: {
        const QString name = QFile::decodeName(QByteArray::fromStdString(path));
        // Left by a process that ended without removing it; nobody answers on it.
        QLocalServer::removeServer(name);
        setSocketOptions(QLocalServer::UserAccessOption);
        if (listen(name)) {
            claim = Claim::Listening;
        }
        break;
    }
    case quill::SendResult::Failed:
        break;
    }
    if (lock >= 0) {
        ::close(lock);
    }
    TraceLog::instance().line(TraceLog::LevelInfo,
                              claim == Claim::HandedOver  ? "Handed to the running window"
                              : claim == Claim::Listening ? "Listening for later starts"
                                                          : "Running alone");
    return claim;
}

void InstanceServer::incomingConnection(quintptr socketDescriptor)
{
    new Connection(this, static_cast<int>(socketDescriptor));
}

void InstanceServer::finished(Connection* connection)
{
    connection->deleteLater();
}

// A small HTTP server on 127.0.0.1 for tests, served by the test's own
// event loop.
#ifndef FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_
#define FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_

#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>

namespace ferrybox {

class LoopbackHttpServer {
 public:
  LoopbackHttpServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(&server_);
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { Answer(socket); });
      }
    });
  }

  bool Start() { return server_.listen(QHostAddress::LocalHost, 0); }
  void Stop() { server_.close(); }  ///< later connections are refused

  /// Answers `path` with `body`; `headers` are extra lines, each ended by
  /// "\r\n". Unknown paths get a 404.
  void Serve(const QByteArray& path, const QByteArray& body, int status = 200,
             const QByteArray& headers = {}) {
    answers_[path] = {body, status, headers, body.size()};
  }
  /// Sends `body` as the start of a far longer page that never comes.
  void ServeUnfinished(const QByteArray& path, const QByteArray& body) {
    answers_[path] = {body, 200, {}, 100 << 20};
  }
  /// Takes each request for `path` and never answers it.
  void ServeNothing(const QByteArray& path) { answers_[path] = {{}, 0, {}, 0}; }

  std::string Site() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
  }
  std::string Url(const std::string& path) const { return Site() + path; }

 private:
  struct Reply {
    QByteArray body;
    int status;  // 0: no reply at all
    QByteArray headers;
    qint64 length;
  };

  void Answer(QTcpSocket* socket) {
    QByteArray& request = pending_[socket];
    request += socket->readAll();
    if (!request.contains("\r\n\r\n")) return;
    const QByteArray path = request.split(' ').value(1);  // GET /path HTTP/1.1
    request.clear();
    const Reply reply = answers_.value(path, {"not here", 404, {}, 8});
    if (reply.status == 0) return;
    socket->write(
        "HTTP/1.1 " + QByteArray::number(reply.status) +
        " Status\r\nContent-Length: " + QByteArray::number(reply.length) +
        "\r\n" + reply.headers + "\r\n" + reply.body);
    if (reply.length == reply.body.size()) socket->disconnectFromHost();
  }

  QTcpServer server_;
  QMap<QByteArray, Reply> answers_;
  QMap<QTcpSocket*, QByteArray> pending_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_

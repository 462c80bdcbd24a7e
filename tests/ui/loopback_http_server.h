// A small HTTP server on 127.0.0.1 for tests, served by the test's own
// event loop.
#ifndef FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_
#define FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_

#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>

namespace ferrybox {

/// What the server sends for one path. Unknown paths get a 404.
struct HttpAnswer {
  HttpAnswer(int status = 200, QByteArray body = {}, QByteArray headers = {})
      : status(status), body(std::move(body)), headers(std::move(headers)) {}
  /// Takes the request and never answers it.
  static HttpAnswer Silent() {
    HttpAnswer answer;
    answer.silent = true;
    return answer;
  }
  /// Sends `body` as the start of a far longer page that never comes.
  static HttpAnswer Unfinished(QByteArray body) {
    HttpAnswer answer(200, std::move(body));
    answer.announced_length = 100 << 20;
    return answer;
  }

  int status;
  QByteArray body;
  QByteArray headers;  ///< extra header lines, each ended by "\r\n"
  qint64 announced_length = -1;
  bool silent = false;
};

class LoopbackHttpServer {
 public:
  LoopbackHttpServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(&server_);
        if (!greeting_.isEmpty()) socket->write(greeting_);
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { Answer(socket); });
      }
    });
  }

  bool Start() { return server_.listen(QHostAddress::LocalHost, 0); }
  void Stop() { server_.close(); }  ///< later connections are refused

  void Serve(const QByteArray& path, HttpAnswer answer) {
    answers_[path] = std::move(answer);
  }
  void ServePage(const QByteArray& path, const QByteArray& body) {
    Serve(path, HttpAnswer(200, body));
  }
  /// Sends `bytes` to every connection at once, before any request.
  void GreetWith(QByteArray bytes) { greeting_ = std::move(bytes); }

  std::string Site(const char* scheme = "http") const {
    return std::string(scheme) +
           "://127.0.0.1:" + std::to_string(server_.serverPort());
  }
  std::string Url(const std::string& path) const { return Site() + path; }
  int Requests(const QByteArray& path) const { return requests_.value(path); }

 private:
  void Answer(QTcpSocket* socket) {
    QByteArray& request = pending_[socket];
    request += socket->readAll();
    if (!request.contains("\r\n\r\n")) return;
    const QByteArray path = request.split(' ').value(1);  // GET /path HTTP/1.1
    request.clear();
    ++requests_[path];
    const HttpAnswer answer = answers_.value(path, HttpAnswer(404, "not here"));
    if (answer.silent) return;
    const qint64 length = std::max(answer.announced_length, answer.body.size());
    socket->write("HTTP/1.1 " + QByteArray::number(answer.status) +
                  " Status\r\nContent-Length: " + QByteArray::number(length) +
                  "\r\n" + answer.headers + "\r\n" + answer.body);
    if (length == answer.body.size()) socket->disconnectFromHost();
  }

  QTcpServer server_;
  QMap<QByteArray, HttpAnswer> answers_;
  QMap<QByteArray, int> requests_;
  QMap<QTcpSocket*, QByteArray> pending_;
  QByteArray greeting_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_LOOPBACK_HTTP_SERVER_H_

// SPDX-License-Identifier: GPL-3.0-or-later
// A small HTTP server on 127.0.0.1, answered by the test's own event loop.
#ifndef FERRYBOX_TESTS_SUPPORT_LOOPBACK_HTTP_H_
#define FERRYBOX_TESTS_SUPPORT_LOOPBACK_HTTP_H_

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>
#include <string>
#include <utility>

namespace ferrybox::testing {

/// Answers every request for a path with the reply set for it, a path
/// never set with 404. Replies go out while the event loop runs.
class LoopbackHttp {
 public:
  struct Reply {
    /// The request is read and never answered.
    static Reply Never() { return {0, {}, {}, true}; }
    /// The headers and `body` are sent, the rest of a longer page never.
    static Reply Stalled(QByteArray body) {
      return {200, std::move(body), {}, false, true};
    }
    int status;
    QByteArray body;
    QByteArray headers = {};  ///< extra header lines, each ending in "\r\n"
    bool never = false;
    bool stalled = false;
  };

  LoopbackHttp() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(&server_);
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { Answer(socket); });
      }
    });
  }

  bool listening() const { return server_.isListening(); }
  /// "http://127.0.0.1:PORT" followed by `path`.
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
  }
  void Set(const QByteArray& path, Reply reply) {
    replies_.insert_or_assign(path, std::move(reply));
  }
  /// Requests that have arrived whole.
  int requests() const { return requests_; }

 private:
  void Answer(QTcpSocket* socket) {
    if (!socket->peek(1 << 16).contains("\r\n\r\n")) return;
    ++requests_;
    // "GET /path HTTP/1.1 ..."
    const QByteArray path = socket->readAll().split(' ').value(1);
    const auto found = replies_.find(path);
    const Reply reply =
        found != replies_.end() ? found->second : Reply(404, "not here");
    if (reply.never) return;
    socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                  " Status\r\nConnection: close\r\n" + reply.headers +
                  "Content-Length: " +
                  QByteArray::number(reply.body.size() + reply.stalled) +
                  "\r\n\r\n" + reply.body);
    if (!reply.stalled) socket->disconnectFromHost();
  }

  QTcpServer server_;
  std::map<QByteArray, Reply> replies_;
  int requests_ = 0;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_LOOPBACK_HTTP_H_

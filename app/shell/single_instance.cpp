#include "app/shell/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>

namespace tv {

namespace {
constexpr char kShowRequest[] = "show\n";
}

TSingleInstance::TSingleInstance(const std::filesystem::path& dataFolder, QObject* parent)
    : QObject(parent), name_(ServerName(dataFolder)) {
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = server_.nextPendingConnection()) {
      connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        if (peer->readAll().contains("show")) emit ShowRequested();
        peer->write("ok\n");
        peer->flush();
      });
    }
  });
}

QString TSingleInstance::ServerName(const std::filesystem::path& dataFolder) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::weakly_canonical(dataFolder, ec);
  if (ec) folder = dataFolder;
  const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(folder.string()),
                                                   QCryptographicHash::Sha1)
                              .toHex()
                              .left(16);
  return QStringLiteral("telvane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

bool TSingleInstance::AskRunningCopyToShow() {
  {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(1000)) {
      socket.write(kShowRequest);
      socket.flush();
      socket.waitForBytesWritten(1000);
      socket.waitForReadyRead(2000);
      socket.disconnectFromServer();
      return true;
    }
  }
  // Nobody answers: a socket left by a copy that died is removed first.
  QLocalServer::removeServer(name_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(name_)) {
    // Another copy started at the same moment and won: hand over to it.
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(1000)) {
      socket.write(kShowRequest);
      socket.waitForBytesWritten(1000);
      return true;
    }
  }
  return false;
}

}  // namespace tv

#include "app/SingleInstance.h"

#include <QFileInfo>
#include <QLocalSocket>

#include "platform/Process.h"
#include "platform/RuntimeFolder.h"

namespace {

const QByteArray kComeForward = "come forward\n";
constexpr int kConnectMilliseconds = 1000;  // a local peer that is alive answers at once

}  // namespace

QString TSingleInstance::MarkerName(const QString& executableFileName) {
  return QFileInfo(executableFileName).fileName().toLower() + "-" + QString::number(platform::UserId());
}

QString TSingleInstance::MarkerPath(const QString& executableFileName) {
  const std::string folder = platform::PrivateRuntimeFolder("velmora");
  return folder.empty() ? QString() : QString::fromStdString(folder) + MarkerName(executableFileName);
}

TSingleInstance::TSingleInstance(QString markerPath, QObject* parent) : QObject(parent), FPath(std::move(markerPath)) {
  FServer.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&FServer, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
}

TSingleInstance::TClaim TSingleInstance::Claim() {
  if (FPath.isEmpty())
    return TClaim::Unguarded;
  // Asking first: listening with access options replaces whatever lies under the name. Only
  // this user can have put anything there.
  QLocalSocket peer;
  peer.connectToServer(FPath);
  if (peer.waitForConnected(kConnectMilliseconds)) {
    peer.write(kComeForward);
    peer.waitForBytesWritten(kConnectMilliseconds);
    peer.disconnectFromServer();
    return TClaim::Second;
  }
  // Nobody answers: no marker, or the marker of an instance that was killed.
  QLocalServer::removeServer(FPath);
  return FServer.listen(FPath) ? TClaim::First : TClaim::NoMarker;
}

void TSingleInstance::Accept() {
  while (QLocalSocket* peer = FServer.nextPendingConnection()) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
      if (peer->canReadLine() && peer->readLine() == kComeForward)
        emit ComeForwardRequested();
    });
  }
}

#include "app/SingleInstance.h"

#include <QFileInfo>
#include <QLocalSocket>

#include <unistd.h>

namespace {

const QByteArray kComeForward = "come forward\n";
constexpr int kConnectMilliseconds = 1000;  // a local peer that is alive answers at once

}  // namespace

QString TSingleInstance::MarkerName(const QString& executableFileName) {
  return QFileInfo(executableFileName).fileName().toLower() + "-" + QString::number(::getuid());
}

TSingleInstance::TSingleInstance(QString markerName, QObject* parent) : QObject(parent), FName(std::move(markerName)) {
  FServer.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&FServer, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
}

TSingleInstance::TClaim TSingleInstance::Claim() {
  // Asking first: listening with access options replaces whatever lies under the name.
  QLocalSocket peer;
  peer.connectToServer(FName);
  if (peer.waitForConnected(kConnectMilliseconds)) {
    peer.write(kComeForward);
    peer.waitForBytesWritten(kConnectMilliseconds);
    peer.disconnectFromServer();
    return TClaim::Second;
  }
  // Nobody answers: no marker, or the marker of an instance that was killed.
  QLocalServer::removeServer(FName);
  return FServer.listen(FName) ? TClaim::First : TClaim::NoMarker;
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

#include "http/server/IdPeerThread.h"

#include "http/io/IdIOHandler.h"
#include "http/net/IdException.h"
#include "http/server/IdThreadHost.h"

TIdPeerThread::~TIdPeerThread() {
  // The steps use the connection and the server: stop them before either goes.
  if (!IsCurrentThread() && !FreeOnTerminate()) TerminateAndWaitFor();
}

void TIdPeerThread::PrepareRun() {
  if (FConnection->IOHandler() == nullptr) throw EIdTCPServerError();
  FConnection->IOHandler()->AfterAccept();
  FConnection->Server()->HandleConnect(*this);
  if (!FConnection->IsConnected()) StopThread();
}

void TIdPeerThread::RunStep() {
  IIdThreadHost& server = *FConnection->Server();
  try {
    if (!server.HandleExecute(*this)) throw EIdNoExecuteSpecified();
  } catch (const EIdSocketError& error) {
    server.DoException(*this, error);
    if (error.LastError == Id_WSAECONNABORTED || error.LastError == Id_WSAECONNRESET) FConnection->CloseConnection();
  } catch (const EIdClosedSocket& error) {
    server.DoException(*this, error);
  } catch (const EIdConnClosedGracefully& error) {
    server.DoException(*this, error);
  } catch (const std::exception& error) {
    server.DoException(*this, error);
    throw;
  }
  if (!FConnection->IsConnected()) StopThread();
}

void TIdPeerThread::FinishRun() { FConnection->Server()->HandleDisconnect(*this); }

void TIdPeerThread::CleanupRun() {
  TIdThread::CleanupRun();
  if (FConnection && FConnection->Server() != nullptr) FConnection->Server()->RetireThread(*this);
  FConnection.reset();
}

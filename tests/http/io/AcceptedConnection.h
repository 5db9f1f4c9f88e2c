#pragma once
// A fixture with a server-side connection accepted from a plain client, both in the test's thread.

#include "http/io/IdIOHandlerSocket.h"
#include "http/io/IdTCPConnection.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>

#include <memory>

template <typename TBase = ::testing::Test>
class TAcceptedConnectionTest : public TBase {
protected:
  void SetUp() override {
    FListener.IP = "127.0.0.1";
    FListener.AllocateHandle();
    FListener.BindHandle();
    FListener.ListenOn(1);
    Client = std::make_unique<testsock::TClient>(FListener.Port);
    ASSERT_TRUE(Client->Connected());
    auto handler = std::make_unique<TIdIOHandlerSocket>();
    handler->Open();
    ASSERT_TRUE(handler->Endpoint()->AcceptFrom(FListener.Handle()));
    Connection.SetIOHandler(std::move(handler));
  }

  TIdComponent FUse;  // keeps the stack for the listening handle
  TIdSocketHandle FListener;
  std::unique_ptr<testsock::TClient> Client;
  TIdTCPConnection Connection;
};

#include "http/net/IdException.h"
#include "http/server/IdThread.h"
#include "support/TestSockets.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <gtest/gtest.h>

namespace {

using testsock::Eventually;

class TStepThread : public TIdThread {
public:
  explicit TStepThread(std::atomic<bool>* freed = nullptr) : FFreed(freed) {}
  ~TStepThread() override {
    if (!IsCurrentThread()) TerminateAndWaitFor();
    if (FFreed != nullptr) *FFreed = true;
  }

  std::atomic<int> Steps{0}, FinishRuns{0}, CleanupRuns{0};
  std::atomic<bool> PrepareFails{false}, StepFails{false}, FinishFails{false};

protected:
  void PrepareRun() override {
    if (PrepareFails) throw EIdTCPServerError("prepare failed");
  }
  void RunStep() override {
    ++Steps;
    if (StepFails) throw EIdNotConnected();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void FinishRun() override {
    ++FinishRuns;
    if (FinishFails) throw EIdTCPServerError("finish failed");
  }
  void CleanupRun() override { ++CleanupRuns; }

private:
  std::atomic<bool>* FFreed;
};

TEST(TIdThread, NothingRunsBeforeStart) {
  TStepThread thread;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(thread.Steps, 0);
  EXPECT_TRUE(thread.IsStopped());
}

TEST(TIdThread, StopThreadEndsTheRunWithFinishAndCleanup) {
  TStepThread thread;
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Steps > 2; }));
  thread.StopThread();
  thread.WaitFor();
  EXPECT_TRUE(thread.Terminated());
  EXPECT_EQ(thread.FinishRuns, 1);
  EXPECT_EQ(thread.CleanupRuns, 1);
  EXPECT_EQ(thread.TerminatingErrorClass(), "");
}

TEST(TIdThread, ExceptionFromAStepEndsTheThreadAndIsRecorded) {
  TStepThread thread;
  std::atomic<int> notified{0};
  thread.OnException = [&](TIdThread&, const std::exception&) { ++notified; };
  thread.StepFails = true;
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Terminated(); }));
  thread.WaitFor();
  EXPECT_EQ(thread.Steps, 1);
  EXPECT_EQ(thread.TerminatingErrorClass(), "EIdNotConnected");
  EXPECT_EQ(thread.TerminatingErrorMessage(), "Not Connected");
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(thread.FinishRuns, 1);
  EXPECT_EQ(thread.CleanupRuns, 1);
}

// Regression: a failed PrepareRun skipped the clean-up, and a connection thread's clean-up is what
// takes it off the server's list.
TEST(TIdThread, FailedPrepareRunStillFinishesAndCleansUp) {
  TStepThread thread;
  thread.PrepareFails = true;
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Terminated(); }));
  thread.WaitFor();
  EXPECT_EQ(thread.Steps, 0);
  EXPECT_EQ(thread.CleanupRuns, 1);
  EXPECT_EQ(thread.TerminatingErrorMessage(), "prepare failed");
}

// A failing FinishRun ends the thread with its error after a clean run, but never hides the error
// of a step that ended the run; the clean-up runs either way.
TEST(TIdThread, AFailingFinishRunIsRecordedUnlessAStepFailedFirst) {
  for (const bool stepFails : {false, true}) {
    SCOPED_TRACE(stepFails ? "the step fails" : "the run stops");
    TStepThread thread;
    thread.FinishFails = true;
    thread.StepFails = stepFails;
    thread.StartThread();
    if (!stepFails) {
      ASSERT_TRUE(Eventually([&] { return thread.Steps > 0; }));
      thread.StopThread();
    }
    ASSERT_TRUE(Eventually([&] { return thread.Terminated(); }));
    thread.WaitFor();
    EXPECT_EQ(thread.TerminatingErrorMessage(), stepFails ? "Not Connected" : "finish failed");
    EXPECT_EQ(thread.FinishRuns, 1);
    EXPECT_EQ(thread.CleanupRuns, 1);
  }
}

// Suspend mode: the thread that a pool keeps for the next connection
TEST(TIdThread, ASuspendedThreadWaitsAndRunsAgainWhenStarted) {
  TStepThread thread;
  thread.StopMode = smSuspend;
  std::atomic<int> stops{0};
  thread.OnStopped = [&stops](TIdThread&) { ++stops; };
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Steps > 0; }));
  thread.StopThread();
  ASSERT_TRUE(Eventually([&] { return stops == 1; }));
  EXPECT_FALSE(thread.Terminated());
  const int stepsWhileStopped = thread.Steps;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(thread.Steps, stepsWhileStopped);
  EXPECT_EQ(thread.CleanupRuns, 1);
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Steps > stepsWhileStopped; }));
  // Terminating wakes it wherever it waits.
  thread.StopThread();
  ASSERT_TRUE(Eventually([&] { return stops == 2; }));
  thread.TerminateAndWaitFor();
  EXPECT_EQ(thread.CleanupRuns, 2);
}

TEST(TIdThread, ASuspendedThreadOutlivesAFailedRun) {
  TStepThread thread;
  thread.StopMode = smSuspend;
  std::atomic<int> notified{0};
  std::atomic<int> stops{0};
  thread.OnException = [&](TIdThread&, const std::exception&) { ++notified; };
  thread.OnStopped = [&stops](TIdThread&) { ++stops; };
  thread.StepFails = true;
  thread.StartThread();
  // Started again only once it has stopped: a start before that finds it running and is lost.
  ASSERT_TRUE(Eventually([&] { return stops == 1; }));
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(thread.TerminatingErrorClass(), "EIdNotConnected");
  EXPECT_FALSE(thread.Terminated());
  thread.StepFails = false;
  thread.StartThread();
  ASSERT_TRUE(Eventually([&] { return thread.Steps > 3; }));
  thread.TerminateAndWaitFor();
  EXPECT_EQ(thread.CleanupRuns, 2);
}

TEST(TIdThread, TerminateAndWaitForRefusesASelfFreeingThread) {
  TStepThread thread;
  thread.SetFreeOnTerminate(true);
  try {
    thread.TerminateAndWaitFor();
    FAIL() << "no exception";
  } catch (const EIdThreadTerminateAndWaitFor& error) {
    EXPECT_STREQ(error.what(), "Cannot call TerminateAndWaitFor on FreeAndTerminate threads");
  }
  thread.SetFreeOnTerminate(false);
}

TEST(TIdThread, SelfFreeingThreadDeletesItselfWhenItEnds) {
  std::atomic<bool> freed{false};
  auto* thread = new TStepThread(&freed);  // owns itself once started
  thread->SetFreeOnTerminate(true);
  thread->StepFails = true;
  thread->StartThread();
  EXPECT_TRUE(Eventually([&] { return freed.load(); }));
}

}  // namespace

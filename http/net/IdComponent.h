#pragma once
// The base of the engine's components: optional status and work events, and the counted use of
// the process-wide socket stack.

#include <cstdint>
#include <functional>
#include <string>

enum TIdStatus { hsResolving, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected, hsStatusText };
enum TWorkMode { wmRead, wmWrite };

class TIdComponent;
using TIdStatusEvent = std::function<void(TIdComponent& sender, TIdStatus status, const std::string& text)>;
using TWorkEvent = std::function<void(TIdComponent& sender, TWorkMode mode, std::int64_t count)>;
using TWorkBeginEvent = std::function<void(TIdComponent& sender, TWorkMode mode, std::int64_t countMax)>;
using TWorkEndEvent = std::function<void(TIdComponent& sender, TWorkMode mode)>;

/// A component of the engine. While any component lives the socket stack (GStack()) exists.
/// The work counters belong to the one thread that uses the component.
class TIdComponent {
public:
  TIdComponent();
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  /// Opens a unit of work of a mode; the outermost one resets the running total and fires
  /// OnWorkBegin with the expected total (0 when unknown).
  virtual void BeginWork(TWorkMode mode, std::int64_t size = 0);
  /// Adds count bytes to the running total while work of that mode is open; fires OnWork.
  virtual void DoWork(TWorkMode mode, std::int64_t count);
  /// Closes a unit of work; the outermost one fires OnWorkEnd.
  virtual void EndWork(TWorkMode mode);

  /// Fires OnStatus with the status's text; for hsResolving, hsConnecting and hsStatusText
  /// argument fills its "%s".
  void DoStatus(TIdStatus status, const std::string& argument = std::string());

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

private:
  int FWorkCount[2] = {0, 0};
  std::int64_t FWorkTotal[2] = {0, 0};
};

/// One unit of work of a component, open for the lifetime of the scope (closed also when an
/// exception leaves it).
class TIdWorkScope {
public:
  TIdWorkScope(TIdComponent& component, TWorkMode mode, std::int64_t size = 0) : FComponent(component), FMode(mode) {
    FComponent.BeginWork(FMode, size);
  }
  ~TIdWorkScope() { FComponent.EndWork(FMode); }
  TIdWorkScope(const TIdWorkScope&) = delete;
  TIdWorkScope& operator=(const TIdWorkScope&) = delete;

private:
  TIdComponent& FComponent;
  TWorkMode FMode;
};

#include "http/io/IdDeadline.h"

#include "http/net/IdException.h"
#include "http/net/IdStack.h"

TIdDeadline::TIdDeadline(int limitMs)
    : FUnlimited(limitMs <= 0), FEnd(std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs)) {}

int TIdDeadline::RemainingMs() const {
  if (FUnlimited) return Id_TIMEOUT_INFINITE;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - std::chrono::steady_clock::now()).count();
  if (left <= 0) throw EIdReadTimeout();
  return static_cast<int>(left);
}

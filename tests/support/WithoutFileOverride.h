#pragma once
// Runs code on a thread that the file permissions bind, also when the tests run as root: the
// thread drops its right to read and search past them, and every thread it starts inherits that.

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace testfiles {

/// Calls action on a new thread without CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH in effect, and
/// waits for it. Threads started by action (a server's listener, its connection threads) are
/// bound by the permissions too.
template <typename Action>
void RunBoundByPermissions(Action action) {
  std::thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) == 0) {
      for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) data[cap / 32].effective &= ~(1u << (cap % 32));
      ::syscall(SYS_capset, &header, data);
    }
    action();
  }).join();
}

}  // namespace testfiles

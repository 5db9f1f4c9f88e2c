#pragma once
// The port the server listens on when the operator gives none. Shared by the window and the
// headless runner; no Qt.

#include "platform/Process.h"

/// 80 when a process with these rights may bind it, else 8080: a first start works without
/// setting anything up.
int DefaultPort(const platform::TBindRights& rights = platform::BindRights());

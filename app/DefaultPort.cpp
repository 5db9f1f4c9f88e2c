#include "app/DefaultPort.h"

int DefaultPort(const platform::TBindRights& rights) {
  return rights.MayBind(80) ? 80 : 8080;
}

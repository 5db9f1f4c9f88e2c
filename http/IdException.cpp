#include "http/IdException.h"

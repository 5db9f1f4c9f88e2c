#include "publish/PublishSettings.h"

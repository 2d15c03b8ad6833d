// The interface only; each platform's createDefault() lives beside its implementation.
#include "platform/LoginItemService.h"

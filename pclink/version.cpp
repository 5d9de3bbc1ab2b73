#include "pclink/version.h"

const char suite_version[] = QV_VERSION;

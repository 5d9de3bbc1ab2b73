#include "pclink/version.h"

#include "pclink/version_text.h"

const char suite_version[] = SUITE_VERSION_TEXT;

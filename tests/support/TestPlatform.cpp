#include "support/TestPlatform.h"

TestPlatform::TestPlatform() = default;

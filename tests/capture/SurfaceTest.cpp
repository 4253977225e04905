#include "tests/capture/CaptureTestSupport.h"

// Includes a header of the library's project that is not the library's: it
// must not be found (the test builds this target and expects a failure).
#include "platform/platform.h"

int main() { return 0; }

// The shared library is made from the logic archive; this file only gives
// the linker a source of its own.
#include "ondrix.h"

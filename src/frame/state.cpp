#include "frame/state.h"

namespace ondrix
{

constinit LibraryState state;

} // namespace ondrix

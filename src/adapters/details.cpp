// Adapter details from the system's own adapter list, and finding an adapter
// by what the user knows of it.
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int32_t ONDRIX_CALL oxGetAdapterDetails(int32_t, AdapterDetailsRecord *)
{
    setError(msg::BadAdapterId);
    return -1;
}

extern "C" int32_t ONDRIX_CALL oxFindAdapter(const char *) { return -1; }

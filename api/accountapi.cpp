#include "app/utils.h"

// The version check goes over the network once the transport is in place.
bool Utils::versionConfig()
{
    return false;
}

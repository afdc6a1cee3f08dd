#pragma once

#include <QtGlobal>

// Resources live in a static library; this keeps them from being dropped
// by the linker. Call once at start-up, outside any namespace.
inline void initTarvixResources()
{
    Q_INIT_RESOURCE(resources);
}

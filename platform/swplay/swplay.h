#pragma once

// The streaming library: everything a view needs.
#include "platform/swplay/keyboard.h"
#include "platform/swplay/swdatasource.h"
#include "platform/swplay/swdatasourcelistener.h"
#include "platform/swplay/swplayer.h"
#include "platform/swplay/swruntime.h"
#include "platform/swplay/videodisplaywinbase.h"
#include "platform/swplay/videolevel.h"

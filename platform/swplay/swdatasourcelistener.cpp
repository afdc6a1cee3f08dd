#include "platform/swplay/swdatasourcelistener.h"

#include "platform/swplay/swstream.h"

SWDataSourceListener::~SWDataSourceListener()
{
    SWStream::detachAll(this);
}

void SWDataSourceListener::onScreenRotation(int) {}
void SWDataSourceListener::onControlTime(int) {}
void SWDataSourceListener::onCopyFromRemote(const char *, int) {}
void SWDataSourceListener::onVideoSizeChanged(int, int) {}

// Platforms without a system-wide mouse source: the listener is never
// available and the application's own event filter stands in.
#include "phones/mouselistener.h"

struct MouseListener::Private
{
};

MouseListener::MouseListener(Source source, std::unique_ptr<Private> d)
    : m_source(source)
    , m_d(std::move(d))
{
}

MouseListener::~MouseListener() = default;

std::unique_ptr<MouseListener> MouseListener::create(Source)
{
    return nullptr;
}

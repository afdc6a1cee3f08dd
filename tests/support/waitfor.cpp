#include "tests/support/waitfor.h"

#include <QElapsedTimer>
#include <QTest>

namespace TestSupport {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (condition())
            return true;
        QTest::qWait(50);
    }
    return condition();
}

} // namespace TestSupport

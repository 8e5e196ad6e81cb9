#include "mxx_wait.h"

#include <mxx_comm.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

int MXXWait::m_nest_depth = 0;

int MXXWait::wait(int, int, int)
{
    QCoreApplication* app = QCoreApplication::instance();
    MXX_ASSERT(app && QThread::currentThread() == app->thread(),
               "Error MXXWait must be called from the main thread!");
    ++m_nest_depth;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 100);
    --m_nest_depth;
    return 0;
}

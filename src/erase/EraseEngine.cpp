#include "erase/EraseEngine.h"

namespace kelvane {

CEraseEngine::CEraseEngine(IEraseHost& host) : m_host(host), m_drive(host) {}

bool CEraseEngine::BeginJob()
{
    int idle = 0;
    if (!m_bRunning.compare_exchange_strong(idle, 1))
        return false;
    m_nStopFlag.store(kStopNone); // whatever an earlier job left never reaches this one
    return true;
}

void CEraseEngine::RequestStop()
{
    if (m_bRunning.load() != 0) {
        int none = kStopNone;
        m_nStopFlag.compare_exchange_strong(none, kStopRequested);
    }
}

} // namespace kelvane

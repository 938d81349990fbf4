#pragma once

#include "seams/host_services.h"

// Shows the wait cursor for the lifetime of the guard, however a handler ends.
class WaitCursor {
public:
    explicit WaitCursor(IHostServices& host) : m_host(host) { m_host.SetWaitCursor(true); }
    ~WaitCursor() { m_host.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IHostServices& m_host;
};

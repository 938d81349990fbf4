#include "protocol/message_if.h"

// Choosing the link, connecting, learning the printer's family.

// --- connection -------------------------------------------------------------

std::optional<int> CMessageIF::CurrentLinkKind() const {
    if (!m_link) return std::nullopt;
    return m_link->GetLinkKind();
}

int CMessageIF::SelectPort(const std::string& portName) {
    if (m_link) {
        m_link->Close();
        m_link.reset();
    }
    const int kind = LinkKindForPort(portName);
    std::unique_ptr<CCharacterInterface> link =
        m_linkFactory ? m_linkFactory(kind, portName) : nullptr;
    if (!link) return 0;
    link->SetLinkKind(kind);
    link->SetIdleHost(&m_host);
    m_link = std::move(link);
    m_portName = portName;
    return ConnectPrinter();
}

int CMessageIF::ConnectPrinter() {
    if (!m_link) return 0;
    // A sending request that fails while the pages are being rebuilt would
    // otherwise start a second connect loop inside the first.
    if (m_connecting) return 0;
    // The operator cancelled the operation this reconnect would belong to:
    // no open, no question.
    if (m_host.CancelRequested()) return 0;
    m_connecting = true;
    while (!m_link->Open()) {
        if (m_host.CancelRequested()) {
            m_connecting = false;
            return 0;
        }
        const std::string details =
            m_diagnosis ? m_diagnosis(m_link->GetLinkKind(), m_portName) : std::string();
        if (m_host.ShowMessageBoxWithDetails(kConnectFailedText, details, MsgButtons::RetryCancel,
                                             MsgIcon::Exclamation) != MsgResult::Retry) {
            m_connecting = false;
            return 0;
        }
        m_host.Pause(kRetryPauseMs);
    }
    if (m_mainSheet) m_mainSheet->RebuildPages();
    m_connecting = false;
    DetectPrinterFamily();
    return 1;
}

void CMessageIF::DetectPrinterFamily() {
    std::optional<std::string> version = RequestStatus(cmd::VRS);
    if (version) m_family = family::FromVersion(*version);
}

#include "app/app.h"

#include "app/main_sheet.h"
#include "links/ethernet_if.h"

CKTUtilityApp::CKTUtilityApp(int& argc, char** argv)
    : m_application(argc, argv),
      m_usbSelection([this]() -> QWidget* { return m_sheet.get(); }),
      m_msg(m_host) {
    m_msg.SetLinkFactory(DefaultLinkFactory(m_host, m_usbSelection));
}

CKTUtilityApp::~CKTUtilityApp() = default;

int CKTUtilityApp::Run() {
    m_sheet = std::make_unique<CMainSheet>(m_msg, m_host);
    m_msg.SetMainSheet(m_sheet.get());
    m_sheet->exec();
    CloseDown(m_msg, m_sheet);
    return 0;
}

bool CKTUtilityApp::CloseDown(CMessageIF& msg, std::unique_ptr<CMainSheet>& sheet) {
    const bool closed = CloseActiveEthernetSocket();
    msg.SetMainSheet(nullptr);
    sheet.reset();
    return closed;
}

#pragma once

#include "pages/page_base.h"

class QComboBox;

// The first page: the operator chooses how the printer is attached. Choosing
// a list entry connects; returning to this page takes the feature pages out
// of the sheet until a port is chosen again.
class CCommsPP : public CPageBase {
    Q_OBJECT

public:
    static constexpr const char* kEthernetPort = "Ethernet";
    // The port list's id: its object name, by which tests and the
    // accessibility tree find it.
    static constexpr const char* kPortId = "1110";

    explicit CCommsPP(const PageContext& context, QWidget* parent = nullptr);

    QComboBox* PortCombo() const { return m_port; }

protected:
    void OnInitDialog() override;
    void OnSetActive() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnPortChosen(int index);

    QComboBox* m_port = nullptr;
};

#include "pages/stats_cmnds_pp.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <memory>

#include "pages/local_path.h"
#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "seams/page_services.h"
#include "seams/wait_cursor.h"
#include "tasks/counters.h"

namespace {

// The command is read back through a 64-byte area; the field holds no more,
// so what the operator sees is what is sent.
constexpr int kCommandLimit = counters::kCommandLimit;
constexpr const char* kPrintFileExtension = ".prn";

// The template in dialog units.
constexpr int kWidth = 348;
constexpr int kHeight = 158;
constexpr int kEditHeight = 12;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;

// The printer's command words are upper case: every letter is kept so as it
// is typed or pasted, the caret staying where it was. Letters whose capital
// lies outside the 8-bit character set stay as typed, as the printer could
// not receive the capital.
class CUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& /*position*/) const override {
        for (QChar& c : input) {
            const QChar upper = c.toUpper();
            if (upper.unicode() <= 0xFF) c = upper;
        }
        return Acceptable;
    }
};

}  // namespace

CStats_CmndsPP::CStats_CmndsPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Statistics / Commands"), parent) {
    SetTemplateSize(kWidth, kHeight);

    // Group boxes first, so the controls placed over them stay on top.
    Place(new QGroupBox(tr("Statistics"), this), 7, 7, 334, 56);
    Place(new QGroupBox(tr("Quick Commands"), this), 7, 69, 334, 34);
    Place(new QGroupBox(tr("Print *.PRN file"), this), 7, 109, 334, 40);

    struct Counter {
        QLineEdit*& edit;
        const char* id;
        QString label;
        int x;
        int y;
    };
    const Counter counters[] = {
        {m_totalCards, Id::kTotalCards, tr("Total Cards Printed:"), 15, 20},
        {m_cardsOnPrinthead, Id::kCardsOnPrinthead, tr("Total No. of Cards on Printhead"), 15, 40},
        {m_cleaningCycles, Id::kCleaningCycles, tr("Total Cleaning Cycles:"), 177, 20},
        {m_cardsSinceClean, Id::kCardsSinceClean, tr("Cards Printed Since Last Clean:"), 177, 40},
    };
    for (const Counter& counter : counters) {
        counter.edit = AddEdit(counter.id, true);
        Place(AddLabel(counter.label, counter.edit), counter.x, counter.y + 2, 114, 8);
        Place(counter.edit, counter.x + 116, counter.y, 40, kEditHeight);
    }

    m_command = AddEdit(Id::kCommand, false);
    m_command->setAccessibleName(tr("Quick Commands"));
    m_command->setMaxLength(kCommandLimit);
    m_command->setValidator(new CUpperCaseValidator(m_command));
    // Ends where the path box below it ends.
    Place(m_command, 15, 83, 262, kEditHeight);
    m_send = AddButton(tr("Send"), Id::kSend);
    Place(m_send, 283, 82, kButtonWidth, kButtonHeight);

    m_browse = AddButton(tr("Browse"), Id::kBrowse);
    Place(m_browse, 15, 126, kButtonWidth, kButtonHeight);
    m_path = AddEdit(Id::kPrintFile, true);
    m_path->setAccessibleName(tr("Print file"));
    Place(m_path, 71, 127, 206, kEditHeight);
    m_print = AddButton(tr("Print"), Id::kPrint);
    Place(m_print, 283, 126, kButtonWidth, kButtonHeight);

    connect(m_send, &QPushButton::clicked, this, &CStats_CmndsPP::OnSendCommand);
    // A command typed and confirmed with Enter goes out as Send would send it.
    connect(m_command, &QLineEdit::returnPressed, this, &CStats_CmndsPP::OnSendCommand);
    connect(m_browse, &QPushButton::clicked, this, &CStats_CmndsPP::OnBrowse);
    connect(m_print, &QPushButton::clicked, this, &CStats_CmndsPP::OnPrint);
}

void CStats_CmndsPP::OnInitDialog() { ReadStatistics(); }

void CStats_CmndsPP::ReadStatistics() {
    std::array<std::optional<std::string>, counters::kCount> values;
    {
        WaitCursor busy(Host());
        values = counters::Read(Msg());
    }
    QLineEdit* const fields[counters::kCount] = {m_totalCards, m_cardsOnPrinthead, m_cleaningCycles,
                                                 m_cardsSinceClean};
    for (size_t i = 0; i < values.size(); ++i) {
        fields[i]->setText(FromLatin1(values[i].value_or(std::string())));
    }
}

void CStats_CmndsPP::OnSendCommand() {
    counters::SendQuickCommand(Msg(), Host(), ToLatin1(m_command->text()));
    // A command that prints or cleans shows its effect on the counters.
    ReadStatistics();
}

void CStats_CmndsPP::OnBrowse() {
    const std::string filter = std::string(".PRN Files (*") + kPrintFileExtension + ")";
    // Cancelling forgets an earlier choice too.
    m_printFilePath = Pages().GetOpenFileName(filter).value_or(std::string());
    m_path->setText(DisplayPath(m_printFilePath));
}

void CStats_CmndsPP::OnPrint() {
    counters::SendPrintFile(Msg(), Host(), m_printFilePath, ToLatin1(DisplayPath(m_printFilePath)));
}

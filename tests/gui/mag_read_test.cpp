// The Mag Read page against the simulated printer: what a read found shown
// track by track, a refused read, and Eject.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "controls/led_button.h"
#include "gui_helpers.h"
#include "pages/mag_read_pp.h"
#include "sim/sim_printer.h"
#include "sim_page_rig.h"

namespace {

using Id = CMagReadPP::Id;

constexpr unsigned kOff = 1;
constexpr unsigned kPass = 2;
constexpr unsigned kFail = 3;

// The page on the shared rig, connected to a simulated printer whose "VRS"
// value is `version` and whose state `setUp` changes.
struct MagReadRig : SimPageRig {
    std::unique_ptr<CMagReadPP> page;

    explicit MagReadRig(const std::string& version = "E3.05",
                        const std::function<void(SimPrinterState&)>& setUp = {})
        : SimPageRig(version) {
        if (setUp) printer->UpdateState(setUp);
        page = std::make_unique<CMagReadPP>(context);
        // Its full size: a window shown without one is held to part of the
        // small offscreen screen, which would cut off the LEDs.
        page->resize(page->sizeHint());
        page->show();
        page->Activate();
    }

    template <typename T>
    T* Control(const char* id) const {
        return gui::Control<T>(*page, id);
    }
    QCheckBox* Select(int track) const { return Control<QCheckBox>(Id::kSelects[track - 1]); }
    QPlainTextEdit* Text(int track) const { return Control<QPlainTextEdit>(Id::kTexts[track - 1]); }
    CLedButton* Led(int track) const { return Control<CLedButton>(Id::kLeds[track - 1]); }
    QPushButton* ReadButton() const { return Control<QPushButton>(Id::kRead); }
    QPushButton* EjectButton() const { return Control<QPushButton>(Id::kEject); }

    void Tick(std::initializer_list<int> tracks) {
        for (int track = 1; track <= 3; ++track) Select(track)->setChecked(false);
        for (int track : tracks) Select(track)->setChecked(true);
    }
    void Read() { gui::Click(ReadButton()); }

    std::vector<std::string> Texts() const {
        return {Text(1)->toPlainText().toStdString(), Text(2)->toPlainText().toStdString(),
                Text(3)->toPlainText().toStdString()};
    }
    std::vector<unsigned> Leds() const {
        return {Led(1)->State(), Led(2)->State(), Led(3)->State()};
    }
};

const std::vector<std::string> kDefaultCardTexts = {
    "%" + SimPrinterState::DefaultCard()[0].data + "?",
    ";" + SimPrinterState::DefaultCard()[1].data + "?",
    ";" + SimPrinterState::DefaultCard()[2].data + "?",
};

TEST(MagReadPage, ControlsAsTheTemplateHasThem) {
    MagReadRig rig;
    auto* group = rig.page->findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "ISO data verification");
    for (int track = 1; track <= 3; ++track) {
        SCOPED_TRACE(track);
        QCheckBox* select = rig.Select(track);
        QPlainTextEdit* text = rig.Text(track);
        CLedButton* led = rig.Led(track);
        ASSERT_NE(select, nullptr);
        ASSERT_NE(text, nullptr);
        ASSERT_NE(led, nullptr);
        EXPECT_EQ(select->text(), QStringLiteral("Track%1").arg(track));
        EXPECT_FALSE(select->isChecked());
        EXPECT_TRUE(text->isReadOnly());
        EXPECT_TRUE(text->toPlainText().isEmpty());
        EXPECT_FALSE(text->accessibleName().isEmpty());
        EXPECT_EQ(led->StateCount(), 4u);
        EXPECT_EQ(led->State(), kOff);
        EXPECT_FALSE(led->HasIcon(0));
        for (unsigned state = 1; state < 4; ++state) EXPECT_TRUE(led->HasIcon(state));
        EXPECT_TRUE(led->text().isEmpty());
        // One row: box, text, LED from left to right, inside the group.
        EXPECT_LT(select->geometry().right(), text->geometry().left());
        EXPECT_LT(text->geometry().right(), led->geometry().left());
        EXPECT_TRUE(group->geometry().contains(select->geometry()));
        EXPECT_TRUE(group->geometry().contains(led->geometry()));
        if (track > 1) {
            EXPECT_GT(text->geometry().top(), rig.Text(track - 1)->geometry().bottom());
        }
        EXPECT_TRUE(rig.page->rect().contains(led->geometry()));
    }
    ASSERT_NE(rig.ReadButton(), nullptr);
    ASSERT_NE(rig.EjectButton(), nullptr);
    EXPECT_EQ(rig.ReadButton()->text(), "&Read");
    EXPECT_EQ(rig.EjectButton()->text(), "Eject");
    EXPECT_TRUE(rig.ReadButton()->isDefault());
    EXPECT_GT(rig.ReadButton()->geometry().top(), group->geometry().bottom());
    EXPECT_LT(rig.ReadButton()->geometry().right(), rig.EjectButton()->geometry().left());
    EXPECT_TRUE(rig.printer->Frames().empty());
}

// Which tracks are read and how each is judged are the task's rules; the
// page asks for the ticked ones and shows each track's text and LED.
TEST(MagReadPage, ShowsWhatTheReadFoundForTheTickedTracks) {
    MagReadRig rig("E3.05", [](SimPrinterState& s) { s.card[2].failed = true; });
    rig.Tick({1, 3});
    rig.Read();
    EXPECT_EQ(rig.Texts(), (std::vector<std::string>{kDefaultCardTexts[0], "", "Track3 FAILED"}));
    EXPECT_EQ(rig.Leds(), (std::vector<unsigned>{kPass, kOff, kFail}));
    // What the operator sees is the icon: green for a good track, red for a
    // failed one, neither for a track not read.
    const std::tuple<const char*, bool, bool> looks[] = {
        {"pass", true, false}, {"off", false, false}, {"fail", false, true}};
    for (int track = 1; track <= 3; ++track) {
        const auto& [description, green, red] = looks[track - 1];
        EXPECT_EQ(rig.Led(track)->accessibleDescription(), description);
        const QImage image = rig.Led(track)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
        }
        EXPECT_EQ(colours.count(qRgb(0, 255, 0)) > 0, green) << track;
        EXPECT_EQ(colours.count(qRgb(255, 0, 0)) > 0, red) << track;
    }
    EXPECT_TRUE(rig.host.boxes.empty());
}

// A read the task refuses (here for old firmware) is told in one box; Eject
// says nothing. Each takes the last card's tracks off the page.
TEST(MagReadPage, ARefusedReadOrEjectShowsNothing) {
    for (const bool eject : {false, true}) {
        SCOPED_TRACE(eject ? "eject" : "old firmware");
        MagReadRig rig("A4.01");
        rig.Tick({1, 2, 3});
        rig.Read();
        ASSERT_EQ(rig.Texts(), kDefaultCardTexts);
        rig.printer->ClearFrames();
        if (eject) {
            gui::Click(rig.EjectButton());
        } else {
            rig.printer->SetValue("VRS", "A4.00");
            rig.Read();
        }
        EXPECT_EQ(rig.host.boxes.size(), eject ? 0u : 1u);
        EXPECT_EQ(rig.Texts(), (std::vector<std::string>{"", "", ""}));
        EXPECT_EQ(rig.Leds(), (std::vector<unsigned>{kOff, kOff, kOff}));
        if (eject) {
            EXPECT_EQ(Requests(*rig.printer), std::vector<std::string>{"REQ,EJT"});
        }
    }
}

TEST(MagReadPage, ReadClearsAndRepaintsBeforeTheFirstRequest) {
    MagReadRig rig;
    rig.Tick({1, 2, 3});
    rig.Read();
    ASSERT_EQ(rig.Leds(), (std::vector<unsigned>{kPass, kPass, kPass}));
    for (int i = 0; i < 3; ++i) QApplication::processEvents();

    std::vector<std::unique_ptr<gui::PaintCounter>> counters;
    for (int track = 1; track <= 3; ++track) {
        for (QWidget* widget :
             {static_cast<QWidget*>(rig.Led(track)), rig.Text(track)->viewport()}) {
            counters.push_back(std::make_unique<gui::PaintCounter>());
            widget->installEventFilter(counters.back().get());
        }
    }
    // What the page shows when the printer gets the first request, before
    // the event loop has had any chance to paint.
    bool seen = false;
    std::vector<std::string> texts;
    std::vector<unsigned> leds;
    std::vector<int> paints;
    rig.printer->SetFrameObserver([&](const SimFrame&) {
        if (seen) return;
        seen = true;
        texts = rig.Texts();
        leds = rig.Leds();
        for (const auto& counter : counters) paints.push_back(counter->paints);
    });
    rig.Read();
    rig.printer->SetFrameObserver({});
    ASSERT_TRUE(seen);
    EXPECT_EQ(texts, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(leds, (std::vector<unsigned>{kOff, kOff, kOff}));
    for (size_t i = 0; i < paints.size(); ++i) EXPECT_GE(paints[i], 1) << "control " << i;
    EXPECT_EQ(rig.Leds(), (std::vector<unsigned>{kPass, kPass, kPass}));
}

}  // namespace

#include "pages/page_base.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "gui_helpers.h"
#include "page_harness.h"
#include "pages/comms_pp.h"

TEST(PageBase, LineEditTextCarriesLatin1BothWays) {
    QLineEdit edit;
    CLineEditText text(edit);
    text.SetWindowText(
        "Caf\xE9 \xB0"
        "C");
    EXPECT_EQ(edit.text(), QString::fromUtf8("Caf\u00E9 \u00B0C"));
    EXPECT_EQ(text.GetWindowText(),
              "Caf\xE9 \xB0"
              "C");

    edit.setText(QString::fromUtf8("\u03A9 ok"));  // not Latin-1
    EXPECT_EQ(text.GetWindowText(), "? ok");
}

TEST(PageBase, StandaloneCommsPageRemovesFeaturePagesAtEveryActivation) {
    PageRig rig;
    CCommsPP page(rig.context);
    EXPECT_EQ(page.PortCombo()->count(), 0);  // filled when first shown

    page.Activate();
    EXPECT_EQ(page.PortCombo()->count(), 6);
    EXPECT_EQ(rig.sheet.featureRemovals, 1);

    ASSERT_TRUE(gui::ChooseListEntry(page.PortCombo(), "LPT2:"));
    ASSERT_EQ(rig.linkRequests.size(), 1u);
    EXPECT_EQ(rig.linkRequests[0].second, "LPT2:");
    EXPECT_EQ(rig.sheet.rebuilds, 1);
    EXPECT_EQ(page.PortCombo()->currentText(), "LPT2:");

    page.Activate();
    EXPECT_EQ(page.PortCombo()->count(), 6);  // filled once only
    EXPECT_EQ(rig.sheet.featureRemovals, 2);
    EXPECT_EQ(page.PortCombo()->currentText(), "");
    EXPECT_EQ(rig.link->closes, 0);
}

// The logo strip: frame colour, brand bitmap and the text lines of each variant.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "logo.h"
#include "state.h"
#include "userint.h"

namespace {

struct Line {
    std::string text;
    int top, left, pointSize, background, color;
};

int Attr(int control, int attribute) {
    int v = -1;
    EXPECT_GE(GetCtrlAttribute(pHandle, control, attribute, &v), 0) << "attribute " << attribute;
    return v;
}

// The controls that were created on the main panel after those of the panel file, oldest first.
std::vector<Line> CreatedLines() {
    std::vector<Line> lines;
    for (int id = PANEL_STATUS + 1; id < PANEL_STATUS + 1000; ++id) {
        int top = 0;
        if (GetCtrlAttribute(pHandle, id, ATTR_TOP, &top) < 0) continue;
        char text[256] = {0};
        GetCtrlVal(pHandle, id, text, sizeof text);
        lines.push_back({text, top, Attr(id, ATTR_LEFT), Attr(id, ATTR_TEXT_POINT_SIZE),
                         Attr(id, ATTR_TEXT_BGCOLOR), Attr(id, ATTR_TEXT_COLOR)});
    }
    return lines;
}

struct Strip {
    int frame, visible, top, left;
    size_t lines;
    bool operator==(const Strip &o) const {
        return frame == o.frame && visible == o.visible && top == o.top && left == o.left && lines == o.lines;
    }
};

Strip Snapshot() {
    return {Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), Attr(PANEL_LOGO, ATTR_VISIBLE),
            Attr(PANEL_LOGO, ATTR_TOP), Attr(PANEL_LOGO, ATTR_LEFT), CreatedLines().size()};
}

void ExpectLine(const Line &l, const std::string &text, int top, int left, int size, int bg, int fg) {
    EXPECT_EQ(l.text, text);
    EXPECT_EQ(l.top, top) << text;
    EXPECT_EQ(l.left, left) << text;
    EXPECT_EQ(l.pointSize, size) << text;
    EXPECT_EQ(l.background, bg) << text;
    EXPECT_EQ(l.color, fg) << text;
}

using LogoStrip = ProgramTest;

// InitVars has drawn variant 2, the maker's own brand.
TEST_F(LogoStrip, StartUpVariantIsArvensa) {
    EXPECT_EQ(Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), 0x0080FF);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_TOP), 10);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_LEFT), 300);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_VISIBLE), 1);
    const std::vector<Line> lines = CreatedLines();
    ASSERT_EQ(lines.size(), 5u);
    ExpectLine(lines[0], "Arvensa GmbH", 10, 15, 11, 0x0080FF, 0xFFFFFF);
    EXPECT_EQ(lines[1].text.rfind("Tel. ", 0), 0u);
    ExpectLine(lines[1], lines[1].text, 25, 15, 11, 0x0080FF, 0xFFFFFF);
    EXPECT_NE(lines[2].text.find(".example"), std::string::npos);
    ExpectLine(lines[2], lines[2].text, 40, 15, 11, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[3], "K-VOR-RN-Zodid", 35, 300, 18, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[4], "Version 3.0b", 40, 450, 11, 0x0080FF, 0xFFFFFF);
}

TEST_F(LogoStrip, PlainVariantsHideThePictureAndShowNameAndVersion) {
    const struct { int variant, frame, text; } plain[] = {{0, 0xFFFFFF, 0x808080}, {1, 0x0080FF, 0xFFFFFF}};
    for (const auto &p : plain) {
        SetCtrlAttribute(pHandle, PANEL_LOGO, ATTR_VISIBLE, 1);
        const size_t before = CreatedLines().size();
        ShowLogo(p.variant);
        EXPECT_EQ(Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), p.frame);
        EXPECT_EQ(Attr(PANEL_LOGO, ATTR_VISIBLE), 0);
        const std::vector<Line> lines = CreatedLines();
        ASSERT_EQ(lines.size(), before + 2) << "variant " << p.variant;
        ExpectLine(lines[before], "K-VOR-RN-Zodid", 20, 20, 18, p.frame, p.text);
        ExpectLine(lines[before + 1], "Version 3.0b", 26, 170, 11, p.frame, p.text);
    }
}

TEST_F(LogoStrip, OemVariants) {
    size_t before = CreatedLines().size();
    ShowLogo(3);
    EXPECT_EQ(Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), 0xFFFFFF);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_TOP), 8);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_LEFT), 470);
    std::vector<Line> lines = CreatedLines();
    ASSERT_EQ(lines.size(), before + 2);
    ExpectLine(lines[before], "K-VOR-RN-Zodid", 20, 20, 18, 0xFFFFFF, 0x808080);

    before = lines.size();
    ShowLogo(4);
    EXPECT_EQ(Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), 0x0080FF);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_TOP), 7);
    lines = CreatedLines();
    ASSERT_EQ(lines.size(), before + 5);
    ExpectLine(lines[before], "MERANTIC Sensor-GmbH", 7, 15, 11, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[before + 1], lines[before + 1].text, 22, 15, 11, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[before + 2], lines[before + 2].text, 37, 15, 11, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[before + 3], "K-VOR-RN-Zodid", 30, 220, 18, 0x0080FF, 0xFFFFFF);
    ExpectLine(lines[before + 4], "Version 3.0b", 36, 370, 11, 0x0080FF, 0xFFFFFF);

    before = lines.size();
    ShowLogo(6);
    EXPECT_EQ(Attr(PANEL_LOGOFRAME, ATTR_FRAME_COLOR), 0xFFFFFF);
    EXPECT_EQ(Attr(PANEL_LOGO, ATTR_LEFT), 470);
    lines = CreatedLines();
    ASSERT_EQ(lines.size(), before + 5);
    ExpectLine(lines[before], "TORVEL Industrieelektronik-GmbH", 7, 15, 11, 0xFFFFFF, 0x808080);
    ExpectLine(lines[before + 3], "K-VOR-RN-Zodid", 30, 220, 18, 0xFFFFFF, 0x808080);
}

TEST_F(LogoStrip, Variant5AndOutOfRangeValuesChangeNothing) {
    const Strip before = Snapshot();
    for (int variant : {5, -1, 7, 100, INT_MIN, INT_MAX}) {
        ShowLogo(variant);
        EXPECT_TRUE(Snapshot() == before) << "variant " << variant;
    }
}

TEST_F(LogoStrip, InfoTextTakesItsArgumentsInOrder) {
    const size_t before = CreatedLines().size();
    ShowInfoText(0x112233, 0x445566, "some text", 77, 88, 14);
    const std::vector<Line> lines = CreatedLines();
    ASSERT_EQ(lines.size(), before + 1);
    ExpectLine(lines.back(), "some text", 88, 77, 14, 0x112233, 0x445566);
}

} // namespace

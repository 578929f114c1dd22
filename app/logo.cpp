// The logo strip at the top of the main window: frame colour, brand bitmap and the text lines
// beside the program's name and version, for the maker's brand and the OEM brands.
#include "logo.h"

#include "K-VOR-RNZazorU30.h"
#include "state.h"
#include "userint.h"

namespace {

const int kWhite = 0xFFFFFF;
const int kBlue = 0x0080FF;
const int kGrey = 0x808080;

struct TextLine {
    const char *text; // nullptr: the variant has no such line
    int top, left, pointSize;
};

struct LogoVariant {
    int frameColor;
    int textColor;
    const char *bitmap; // nullptr: the picture is hidden
    int bitmapTop, bitmapLeft;
    TextLine company, telephone, web;
    TextLine name, version; // their texts are szSoftName and szSoftVersion
};

const TextLine kNone = {nullptr, 0, 0, 0};

// Indexed by variant; variant 5 has no row and changes nothing.
// clang-format off
const LogoVariant kVariants[7] = {
    // 0: plain, white
    {kWhite, kGrey, nullptr, 0, 0, kNone, kNone, kNone, {"", 20, 20, 18}, {"", 26, 170, 11}},
    // 1: plain, blue
    {kBlue, kWhite, nullptr, 0, 0, kNone, kNone, kNone, {"", 20, 20, 18}, {"", 26, 170, 11}},
    // 2: Arvensa, the maker's own brand
    {kBlue, kWhite, "av.bmp", 10, 300,
     {"Arvensa GmbH", 10, 15, 11},
     {"Tel. +49 (0)30 555 0142", 25, 15, 11},
     {"www.arvensa.example", 40, 15, 11},
     {"", 35, 300, 18}, {"", 40, 450, 11}},
    // 3: quandrel
    {kWhite, kGrey, "quandrel.bmp", 8, 470, kNone, kNone, kNone, {"", 20, 20, 18}, {"", 26, 170, 11}},
    // 4: MERANTIC
    {kBlue, kWhite, "merantic.bmp", 7, 470,
     {"MERANTIC Sensor-GmbH", 7, 15, 11},
     {"Tel. +49 (0)89 555 0187", 22, 15, 11},
     {"www.merantic.example", 37, 15, 11},
     {"", 30, 220, 18}, {"", 36, 370, 11}},
    // 5: not a layout
    {0, 0, nullptr, 0, 0, kNone, kNone, kNone, kNone, kNone},
    // 6: TORVEL
    {kWhite, kGrey, "torvel.bmp", 7, 470,
     {"TORVEL Industrieelektronik-GmbH", 7, 15, 11},
     {"Tel. +49 (0)711 555 0263", 22, 15, 11},
     {"www.torvel.example", 37, 15, 11},
     {"", 30, 220, 18}, {"", 36, 370, 11}},
};
// clang-format on

void ShowLine(const LogoVariant &v, const TextLine &line, const char *text) {
    if (line.text == nullptr) return;
    ShowInfoText(v.frameColor, v.textColor, text, line.left, line.top, line.pointSize);
}

} // namespace

void ShowInfoText(int backgroundColor, int textColor, const char *text, int left, int top, int pointSize) {
    const int ctrl = NewCtrl(pHandle, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(pHandle, ctrl, ATTR_TEXT_FONT, VAL_APP_META_FONT);
    SetCtrlAttribute(pHandle, ctrl, ATTR_TEXT_BGCOLOR, backgroundColor);
    SetCtrlAttribute(pHandle, ctrl, ATTR_TEXT_COLOR, textColor);
    SetCtrlAttribute(pHandle, ctrl, ATTR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(pHandle, ctrl, text);
}

const char *LogoBitmap(int variant) {
    if (variant < 0 || variant > 6) return nullptr;
    return kVariants[variant].bitmap;
}

void ShowLogo(int variant) {
    if (variant < 0 || variant > 6 || variant == 5) return;
    const LogoVariant &v = kVariants[variant];

    SetCtrlAttribute(pHandle, PANEL_LOGOFRAME, ATTR_FRAME_COLOR, v.frameColor);

    if (v.bitmap == nullptr) {
        SetCtrlAttribute(pHandle, PANEL_LOGO, ATTR_VISIBLE, 0);
    } else {
        SetCtrlAttribute(pHandle, PANEL_LOGO, ATTR_TOP, v.bitmapTop);
        SetCtrlAttribute(pHandle, PANEL_LOGO, ATTR_LEFT, v.bitmapLeft);
        // A missing bitmap leaves the picture empty; the rest of the strip is still drawn.
        DisplayImageFile(pHandle, PANEL_LOGO, v.bitmap);
    }

    ShowLine(v, v.company, v.company.text);
    ShowLine(v, v.telephone, v.telephone.text);
    ShowLine(v, v.web, v.web.text);
    ShowLine(v, v.name, szSoftName);
    ShowLine(v, v.version, szSoftVersion);
}

// Controls: the events the operator raises, values in each control's type, attributes, text.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <cstring>

#include "testhooks.h"
#include "ui_indicator.h"
#include "platform_test_util.h"
#include "userint.h"

namespace {

const char *kControls = R"({
 "panels": [
  {"resource_id": 7, "name": "T", "title": "Controls", "width": 700, "height": 500,
   "controls": [
    {"name": "BTN", "kind": "command_button", "left": 10, "top": 10, "width": 80, "height": 26,
     "label": "RUN", "callback": "T_Record"},
    {"name": "TOGGLE", "kind": "toggle_button", "left": 100, "top": 10, "width": 120, "height": 26,
     "label": "Page 1", "type": "int32", "value": 0, "callback": "T_Record"},
    {"name": "RAM", "kind": "radio_button", "left": 230, "top": 10, "width": 90, "height": 22,
     "label": "RAM", "type": "int32", "value": 1, "callback": "T_Record"},
    {"name": "NUM", "kind": "numeric", "left": 10, "top": 60, "width": 100, "height": 24,
     "label": "Edge", "type": "uint16", "min": 0, "max": 1000, "value": 5, "callback": "T_Record"},
    {"name": "RING", "kind": "ring", "left": 120, "top": 60, "width": 120, "height": 24,
     "label": "Mode", "type": "uint16", "value": 1, "callback": "T_Record",
     "items": [{"label": "Zero", "value": 0}, {"label": "One", "value": 1},
               {"label": "Two", "value": 2}]},
    {"name": "SLIDE", "kind": "slide", "left": 250, "top": 60, "width": 300, "height": 40,
     "label": "Threshold", "type": "uint16", "min": 10, "max": 950, "value": 100,
     "callback": "T_Record"},
    {"name": "SCALE", "kind": "numeric", "left": 10, "top": 120, "width": 100, "height": 24,
     "label": "Scale", "type": "float", "min": 0, "max": 262143, "precision": 5, "value": 1.0,
     "callback": "T_Record"},
    {"name": "STATUS", "kind": "string", "left": 10, "top": 470, "width": 680, "height": 24,
     "type": "string", "value": ""},
    {"name": "BOX", "kind": "text_box", "left": 10, "top": 170, "width": 300, "height": 80,
     "label": "Hardware", "lines": ["first", "second"]},
    {"name": "PIX", "kind": "numeric_indicator", "left": 320, "top": 170, "width": 80,
     "height": 24, "label": "Pixel", "type": "uint16", "value": 0},
    {"name": "MM", "kind": "numeric_indicator", "left": 420, "top": 170, "width": 100,
     "height": 24, "label": "Value [mm]", "type": "double", "precision": 3, "value": 0},
    {"name": "BIG", "kind": "numeric", "left": 320, "top": 230, "width": 120, "height": 24,
     "label": "Count", "type": "uint32"},
    {"name": "PORT", "kind": "ring", "left": 460, "top": 230, "width": 200, "height": 24,
     "label": "Port", "type": "int32", "value": 1, "items_source": "serial_ports",
     "items": [{"label": "COM1", "value": 1}], "callback": "T_Record"},
    {"name": "PIC", "kind": "picture", "left": 10, "top": 300, "width": 40, "height": 20},
    {"name": "FRAME", "kind": "decoration", "left": 300, "top": 300, "width": 200, "height": 60,
     "label": "Memory target", "frame_color": 16777215},
    {"name": "STOP", "kind": "command_button", "left": 10, "top": 400, "width": 80,
     "height": 26, "label": "STOP", "callback": "T_Record"},
    {"name": "EEPROM", "kind": "radio_button", "left": 330, "top": 10, "width": 90,
     "height": 22, "label": "EEPROM", "type": "int32", "value": 0, "callback": "T_Record"}
   ]}
 ]})";

enum {
    BTN = 2,
    TOGGLE,
    RAM,
    NUM,
    RING,
    SLIDE,
    SCALE,
    STATUS,
    BOX,
    PIX,
    MM,
    BIG,
    PORT,
    PIC,
    FRAME,
    STOP,
    EEP
};

class Controls : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        h = LoadPanel(0, file.path().c_str(), 7);
        ASSERT_GT(h, 0);
        DisplayPanel(h);
    }
    void TearDown() override {
        g_onEvent = nullptr;
        if (h > 0) DiscardPanel(h);
    }
    std::vector<int> Events(int control) { return EventsOf(h, control); }
    template <typename T> T *W(int control) {
        return dynamic_cast<T *>(static_cast<QWidget *>(CtrlWidget(h, control)));
    }
    PanelFile file{kControls};
    int h = 0;
};

const std::vector<int> kClickCommit{EVENT_LEFT_CLICK, EVENT_COMMIT};
const std::vector<int> kClickChangeCommit{EVENT_LEFT_CLICK, EVENT_VAL_CHANGED, EVENT_COMMIT};
const std::vector<int> kChangeCommit{EVENT_VAL_CHANGED, EVENT_COMMIT};

TEST_F(Controls, ButtonsRaiseLeftClickBeforeCommitAndKeyboardOnlyCommits) {
    EXPECT_EQ(UserClick(h, BTN), 0);
    EXPECT_EQ(Events(BTN), kClickCommit);
    Recorded().clear();
    EXPECT_EQ(UserCommit(h, BTN), 0);
    EXPECT_EQ(Events(BTN), std::vector<int>{EVENT_COMMIT});
}

TEST_F(Controls, ToggleAndRadioAreAlreadySwitchedWhenTheirCallbacksRun) {
    std::vector<int> seen;
    g_onEvent = [&](int panel, int control, int event) {
        int v = -1;
        GetCtrlVal(panel, control, &v);
        if (event != EVENT_LEFT_CLICK) seen.push_back(v);
    };
    UserClick(h, TOGGLE);
    EXPECT_EQ(Events(TOGGLE), kClickChangeCommit);
    EXPECT_EQ(seen, (std::vector<int>{1, 1}));
    EXPECT_TRUE(W<QAbstractButton>(TOGGLE)->isChecked());

    // From the keyboard: no left click, the value still changes first.
    Recorded().clear();
    seen.clear();
    UserCommit(h, TOGGLE);
    EXPECT_EQ(Events(TOGGLE), kChangeCommit);
    EXPECT_EQ(seen, (std::vector<int>{0, 0}));

    // A radio button that is on switches off when clicked: each one is its own control.
    Recorded().clear();
    seen.clear();
    UserClick(h, RAM);
    EXPECT_EQ(Events(RAM), kClickChangeCommit);
    EXPECT_EQ(seen, (std::vector<int>{0, 0}));
    UserClick(h, RAM);
    int ram = 0;
    GetCtrlVal(h, RAM, &ram);
    EXPECT_EQ(ram, 1);
    EXPECT_TRUE(W<QAbstractButton>(RAM)->isChecked());
    // Switching another one on leaves this one as it is.
    UserClick(h, EEP);
    EXPECT_TRUE(W<QAbstractButton>(RAM)->isChecked());
    EXPECT_TRUE(W<QAbstractButton>(EEP)->isChecked());
    UserClick(h, RAM);
    EXPECT_FALSE(W<QAbstractButton>(RAM)->isChecked());
    GetCtrlVal(h, RAM, &ram);
    EXPECT_EQ(ram, 0);
    SetCtrlVal(h, EEP, 0); // from code, too, a radio button can be switched off
    EXPECT_FALSE(W<QAbstractButton>(EEP)->isChecked());
}

TEST_F(Controls, ValuesSetFromCodeRaiseNoEvent) {
    SetCtrlVal(h, TOGGLE, 1);
    SetCtrlVal(h, RAM, 0);
    SetCtrlVal(h, NUM, 77);
    SetCtrlVal(h, RING, 2);
    SetCtrlVal(h, RING, 9);
    SetCtrlVal(h, SLIDE, 500);
    SetCtrlVal(h, SCALE, 1.5);
    SetCtrlVal(h, STATUS, "Line Ok!");
    SetCtrlVal(h, PORT, 3);
    for (int i = 0; i < 5; ++i)
        ProcessSystemEvents();
    EXPECT_TRUE(Recorded().empty());
    EXPECT_TRUE(W<QAbstractButton>(TOGGLE)->isChecked());
    EXPECT_FALSE(W<QAbstractButton>(RAM)->isChecked());
}

TEST_F(Controls, DimmedAndHiddenControlsDeliverNothing) {
    SetCtrlAttribute(h, BTN, ATTR_DIMMED, 1);
    SetCtrlAttribute(h, NUM, ATTR_DIMMED, 1);
    int dimmed = 0;
    GetCtrlAttribute(h, BTN, ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    UserClick(h, BTN);
    UserCommit(h, BTN);
    UserClick(h, NUM);
    EXPECT_EQ(UserSetValue(h, NUM, 9), UIEInvalidControl);
    EXPECT_TRUE(Recorded().empty());
    unsigned short num = 0;
    GetCtrlVal(h, NUM, &num);
    EXPECT_EQ(num, 5);

    SetCtrlAttribute(h, BTN, ATTR_DIMMED, 0);
    SetCtrlAttribute(h, BTN, ATTR_VISIBLE, 0);
    UserClick(h, BTN);
    EXPECT_TRUE(Recorded().empty());
    SetCtrlAttribute(h, BTN, ATTR_VISIBLE, 1);
    UserClick(h, BTN);
    EXPECT_EQ(Events(BTN), kClickCommit);
}

TEST_F(Controls, NumericEditCommitsOnEnterAndReportsOnlyRealChanges) {
    UserClick(h, NUM);
    EXPECT_EQ(Events(NUM), std::vector<int>{EVENT_LEFT_CLICK});
    Recorded().clear();
    EXPECT_EQ(UserSetValue(h, NUM, 7), 0);
    EXPECT_EQ(Events(NUM), kChangeCommit);
    unsigned short v = 0;
    GetCtrlVal(h, NUM, &v);
    EXPECT_EQ(v, 7);
    Recorded().clear();
    UserCommit(h, NUM); // Enter with nothing changed
    EXPECT_EQ(Events(NUM), std::vector<int>{EVENT_COMMIT});
    // The operator cannot go past the edit's range.
    UserSetValue(h, NUM, 5000);
    GetCtrlVal(h, NUM, &v);
    EXPECT_EQ(v, 1000);
    EXPECT_DOUBLE_EQ(W<QDoubleSpinBox>(NUM)->value(), 1000.0);
}

TEST_F(Controls, ValuesConvertLikeTheControlsType) {
    // Indicators wrap like a cast to the type.
    SetCtrlVal(h, PIX, -1);
    unsigned short u = 0;
    GetCtrlVal(h, PIX, &u);
    EXPECT_EQ(u, 65535);
    SetCtrlVal(h, PIX, 70000);
    GetCtrlVal(h, PIX, &u);
    EXPECT_EQ(u, 70000 - 65536);
    EXPECT_EQ(W<kvor_ui::NumIndicator>(PIX)->text(), QStringLiteral("4464"));

    SetCtrlVal(h, MM, 4294967.295);
    EXPECT_EQ(W<kvor_ui::NumIndicator>(MM)->text(), QStringLiteral("4294967.295"));
    char text[32];
    GetCtrlVal(h, MM, text, sizeof text);
    EXPECT_STREQ(text, "4294967.295");

    // A full unsigned 32-bit value survives.
    SetCtrlVal(h, BIG, 4294967295u);
    unsigned int big = 0;
    GetCtrlVal(h, BIG, &big);
    EXPECT_EQ(big, 4294967295u);

    // The float edit keeps the exact value even though it shows five decimals.
    const double scale = 16385.0 / 16384.0;
    SetCtrlVal(h, SCALE, scale);
    float f = 0.0f;
    GetCtrlVal(h, SCALE, &f);
    EXPECT_EQ(f, static_cast<float>(scale));
    UserCommit(h, SCALE); // Enter on the rounded display changes nothing
    GetCtrlVal(h, SCALE, &f);
    EXPECT_EQ(f, static_cast<float>(scale));
    EXPECT_EQ(EventsOf(h, SCALE), std::vector<int>{EVENT_COMMIT});
}

TEST_F(Controls, RingKeepsAValueThatMatchesNoItem) {
    auto *combo = W<QComboBox>(RING);
    SetCtrlVal(h, RING, 2);
    EXPECT_EQ(combo->currentText(), QStringLiteral("Two"));
    SetCtrlVal(h, RING, 9);
    unsigned short v = 0;
    GetCtrlVal(h, RING, &v);
    EXPECT_EQ(v, 9);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->placeholderText(), QStringLiteral("9"));

    EXPECT_EQ(UserSetValue(h, RING, 0), 0);
    EXPECT_EQ(Events(RING), kChangeCommit);
    EXPECT_EQ(combo->currentText(), QStringLiteral("Zero"));
    EXPECT_EQ(UserSetValue(h, RING, 5), UIEBadValue); // not an item the operator could choose
    // Choosing the item that is already chosen commits without a change.
    Recorded().clear();
    combo->activated(0);
    EXPECT_EQ(Events(RING), std::vector<int>{EVENT_COMMIT});
}

TEST_F(Controls, PortRingOffersTheCurrentPortsWhenItOpens) {
    auto *combo = W<QComboBox>(PORT);
    SetCtrlVal(h, PORT, 1);
    combo->showPopup();
    combo->hidePopup();
    ASSERT_GE(combo->count(), 1);
    EXPECT_TRUE(combo->itemText(0).startsWith(QStringLiteral("COM")));
    int port = 0;
    GetCtrlVal(h, PORT, &port);
    EXPECT_EQ(port, 1);
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(Controls, SlideRaisesChangeThenCommit) {
    EXPECT_EQ(UserSetValue(h, SLIDE, 333), 0);
    EXPECT_EQ(Events(SLIDE), kChangeCommit);
    unsigned short v = 0;
    GetCtrlVal(h, SLIDE, &v);
    EXPECT_EQ(v, 333);
    Recorded().clear();
    UserClick(h, SLIDE); // a click on the handle: no change, commit on release
    EXPECT_EQ(Events(SLIDE), kClickCommit);
    SetCtrlVal(h, SLIDE, 5000); // held to the slide's range
    GetCtrlVal(h, SLIDE, &v);
    EXPECT_EQ(v, 950);
}

TEST_F(Controls, Latin1TextShowsTheMicroSign) {
    const char *micro = "1024-pixel; 7.8\xB5m pixel-pitch";
    SetCtrlVal(h, STATUS, micro);
    EXPECT_TRUE(W<QLabel>(STATUS)->text().contains(QChar(0x00B5)));
    char back[80];
    GetCtrlVal(h, STATUS, back, sizeof back);
    EXPECT_STREQ(back, micro);
    // A short buffer gets a terminated prefix.
    char small[5];
    GetCtrlVal(h, STATUS, small, sizeof small);
    EXPECT_STREQ(small, "1024");

    EXPECT_EQ(ReplaceTextBoxLine(h, BOX, 4, micro), 0);
    char line[80];
    EXPECT_EQ(GetTextBoxLine(h, BOX, 0, line, sizeof line), 0);
    EXPECT_STREQ(line, "first");
    EXPECT_EQ(GetTextBoxLine(h, BOX, 3, line, sizeof line), 0);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(GetTextBoxLine(h, BOX, 4, line, sizeof line), 0);
    EXPECT_STREQ(line, micro);
    EXPECT_EQ(GetTextBoxLine(h, BOX, 5, line, sizeof line), UIEBadValue);
    const QString shown = W<QPlainTextEdit>(BOX)->toPlainText();
    EXPECT_EQ(shown.split('\n').value(4), QString::fromLatin1(micro));
    EXPECT_TRUE(shown.contains(QChar(0x00B5)));
}

TEST_F(Controls, TextMessagesAndAttributes) {
    const int id = NewCtrl(h, CTRL_TEXT_MSG, "", 26, 170);
    EXPECT_EQ(id, EEP + 1);
    EXPECT_EQ(SetCtrlAttribute(h, id, ATTR_TEXT_FONT, VAL_APP_META_FONT), 0);
    SetCtrlAttribute(h, id, ATTR_TEXT_BGCOLOR, 0x0080FF);
    SetCtrlAttribute(h, id, ATTR_TEXT_COLOR, 0xFFFFFF);
    SetCtrlAttribute(h, id, ATTR_TEXT_POINT_SIZE, 18);
    SetCtrlVal(h, id, "K-VOR-RN-Zodid");
    auto *msg = W<QLabel>(id);
    ASSERT_NE(msg, nullptr);
    EXPECT_TRUE(msg->isVisible());
    EXPECT_EQ(msg->text(), QStringLiteral("K-VOR-RN-Zodid"));
    EXPECT_EQ(msg->pos(), QPoint(170, 26));
    EXPECT_EQ(msg->font().pixelSize(), 18); // sizes are pixel heights
    EXPECT_GE(msg->width(), msg->fontMetrics().horizontalAdvance(msg->text()));
    int color = 0, size = 0;
    GetCtrlAttribute(h, id, ATTR_TEXT_BGCOLOR, &color);
    EXPECT_EQ(color, 0x0080FF);
    GetCtrlAttribute(h, id, ATTR_TEXT_POINT_SIZE, &size);
    EXPECT_EQ(size, 18);
    EXPECT_EQ(msg->palette().color(QPalette::Window), QColor(0x00, 0x80, 0xFF));

    SetCtrlAttribute(h, MM, ATTR_TEXT_BGCOLOR, 0xFF0000);
    EXPECT_EQ(W<QWidget>(MM)->palette().color(QPalette::Window), QColor(Qt::red));
    SetCtrlAttribute(h, FRAME, ATTR_FRAME_COLOR, 0x0080FF);
    GetCtrlAttribute(h, FRAME, ATTR_FRAME_COLOR, &color);
    EXPECT_EQ(color, 0x0080FF);

    SetCtrlAttribute(h, BTN, ATTR_LEFT, 40);
    SetCtrlAttribute(h, BTN, ATTR_TOP, 50);
    int left = 0, top = 0;
    GetCtrlAttribute(h, BTN, ATTR_LEFT, &left);
    GetCtrlAttribute(h, BTN, ATTR_TOP, &top);
    EXPECT_EQ(QPoint(left, top), QPoint(40, 50));
    EXPECT_EQ(W<QWidget>(BTN)->pos(), QPoint(40, 50));
    EXPECT_EQ(SetCtrlAttribute(h, BTN, 9999, 1), UIEInvalidAttribute);
    char label[32];
    SetCtrlAttribute(h, NUM, ATTR_LABEL_TEXT, "Right edge");
    GetCtrlAttribute(h, NUM, ATTR_LABEL_TEXT, label, sizeof label);
    EXPECT_STREQ(label, "Right edge");
}

TEST_F(Controls, PictureShowsAnImageAndAMissingOneChangesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("logo.bmp");
    QImage image(60, 20, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(path, "BMP"));
    EXPECT_EQ(DisplayImageFile(h, PIC, path.toLocal8Bit().constData()), 0);
    auto *pic = W<QLabel>(PIC);
    EXPECT_EQ(pic->pixmap().size(), QSize(60, 20));
    EXPECT_LT(DisplayImageFile(h, PIC, dir.filePath("missing.bmp").toLocal8Bit().constData()), 0);
    EXPECT_EQ(pic->pixmap().size(), QSize(60, 20));
    EXPECT_EQ(DisplayImageFile(h, BTN, path.toLocal8Bit().constData()), UIEInvalidControl);
}

// A callback that loops like RUN: events (the STOP click, panels shown and dimmed) keep being
// handled inside it, and it returns only when STOP's left click ends the loop.
TEST_F(Controls, NestedLoopInsideACallbackHandlesAnotherClick) {
    int stop = 0;
    bool looping = false;
    std::vector<std::string> trace;
    g_onEvent = [&](int panel, int control, int event) {
        if (control == BTN && event == EVENT_COMMIT) {
            looping = true;
            stop = 0;
            SetCtrlAttribute(panel, BTN, ATTR_DIMMED, 1);
            AfterDelay(0.02, [panel] { UserClick(panel, STOP); });
            trace.push_back("loop");
            PollUntil([&] { return stop != 0; }, 5.0);
            trace.push_back("loop ended");
            SetCtrlAttribute(panel, BTN, ATTR_DIMMED, 0);
            looping = false;
        } else if (control == STOP && event == EVENT_LEFT_CLICK) {
            trace.push_back(looping ? "stop click inside" : "stop click outside");
            stop = 1;
            HidePanel(panel);
            DisplayPanel(panel);
        } else if (control == STOP && event == EVENT_COMMIT) {
            trace.push_back("stop commit");
        }
    };
    UserClick(h, BTN);
    EXPECT_EQ(trace, (std::vector<std::string>{"loop", "stop click inside", "stop commit", "loop ended"}));
    EXPECT_EQ(Events(BTN), kClickCommit);
    EXPECT_EQ(Events(STOP), kClickCommit);
    EXPECT_TRUE(PanelVisible(h));
}

} // namespace

// Keyboard and wheel: focus, shortcuts and tooltips from the panel file, the wheel that chooses
// nothing, drop-downs that commit only on an explicit choice, the slide's number box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>

#include "platform_test_util.h"
#include "testhooks.h"
#include "userint.h"

namespace {

const char *kPanel = R"({
 "panels": [
  {"resource_id": 9, "name": "K", "title": "Keyboard", "width": 700, "height": 400,
   "controls": [
    {"name": "RUN", "kind": "command_button", "tooltip": "Measure", "shortcut": "F5",
     "left": 10, "top": 10, "width": 80, "height": 26, "label": "RUN", "callback": "T_Record"},
    {"name": "STOP", "kind": "command_button", "tooltip": "End the loop", "shortcut": "Esc",
     "left": 100, "top": 10, "width": 80, "height": 26, "label": "STOP", "callback": "T_Record"},
    {"name": "TEACH", "kind": "command_button", "tooltip": "Teach",
     "left": 190, "top": 10, "width": 80, "height": 26, "label": "Teach", "callback": "T_Record"},
    {"name": "PAGE", "kind": "toggle_button", "tooltip": "Page 1", "shortcut": "Ctrl+1",
     "left": 280, "top": 10, "width": 80, "height": 26, "label": "Page 1", "type": "int32",
     "value": 0, "callback": "T_Record"},
    {"name": "NUM", "kind": "numeric", "tooltip": "Edge, 0 to 1000 pixel",
     "left": 10, "top": 70, "width": 100, "height": 24, "label": "Edge", "type": "uint16",
     "min": 0, "max": 1000, "value": 5, "callback": "T_Record"},
    {"name": "RING", "kind": "ring", "tooltip": "Mode", "left": 120, "top": 70, "width": 120,
     "height": 24, "label": "Mode", "type": "uint16", "value": 1, "callback": "T_Record",
     "items": [{"label": "Zero", "value": 0}, {"label": "One", "value": 1},
               {"label": "Two", "value": 2}]},
    {"name": "SLIDE", "kind": "slide", "tooltip": "Threshold, 10 to 950 %", "left": 250,
     "top": 70, "width": 300, "height": 40, "label": "Threshold", "type": "uint16", "min": 10,
     "max": 950, "value": 100, "callback": "T_Record"},
    {"name": "PORT", "kind": "ring", "tooltip": "Port", "left": 10, "top": 150, "width": 200,
     "height": 24, "label": "Port", "type": "int32", "value": 1, "items_source": "serial_ports",
     "items": [{"label": "COM1", "value": 1}, {"label": "COM2", "value": 2}],
     "callback": "T_Record"},
    {"name": "OTHER", "kind": "numeric", "tooltip": "Setpoint", "left": 250, "top": 150,
     "width": 100, "height": 24, "label": "Setpoint", "type": "uint16", "min": 0, "max": 65535,
     "value": 512, "callback": "T_Record"}
   ]}
 ]})";

enum { RUN = 2, STOP, TEACH, PAGE, NUM, RING, SLIDE, PORT, OTHER };

class Keyboard : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        h = LoadPanel(0, file.path().c_str(), 9);
        ASSERT_GT(h, 0);
        DisplayPanel(h);
        window = static_cast<QWidget *>(PanelWidget(h));
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(PollUntil([this] { return QApplication::activeWindow() == window; }));
    }
    void TearDown() override {
        g_onEvent = nullptr;
        if (h > 0) DiscardPanel(h);
    }
    QWidget *W(int control) { return static_cast<QWidget *>(CtrlWidget(h, control)); }
    QWidget *Focus() { return window->focusWidget(); }
    double Value(int control) {
        double v = -1;
        GetCtrlVal(h, control, &v);
        return v;
    }
    void Wheel(QWidget *target, int steps) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
    }
    // Keys go where the operator's keys go: to the widget with the focus.
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                        static_cast<Qt::Key>(key), mods);
    }
    PanelFile file{kPanel};
    int h = 0;
    QWidget *window = nullptr;
};

} // namespace

TEST_F(Keyboard, DimmingTheFocusedButtonLeavesNoControlFocusedAndActiveCtrlWaitsForUndimming) {
    ASSERT_EQ(SetActiveCtrl(h, RUN), 0);
    EXPECT_EQ(Focus(), W(RUN));
    // RUN dims itself: Qt would pass the focus on to STOP and Teach; the window keeps it.
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 1);
    EXPECT_TRUE(Focus() == nullptr || Focus() == window);
    Key(Qt::Key_Space);
    EXPECT_TRUE(Recorded().empty());

    // Made active while dimmed, RUN takes the focus once it is undimmed.
    ASSERT_EQ(SetActiveCtrl(h, STOP), 0);
    EXPECT_EQ(Focus(), W(STOP));
    EXPECT_EQ(SetActiveCtrl(h, RUN), 0);
    EXPECT_EQ(Focus(), W(STOP));
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 0);
    EXPECT_EQ(Focus(), W(RUN));
    // Undimming again later does not steal the focus a second time.
    SetActiveCtrl(h, TEACH);
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 1);
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 0);
    EXPECT_EQ(Focus(), W(TEACH));

    EXPECT_EQ(SetActiveCtrl(h, 99), UIEInvalidControl);
    EXPECT_EQ(SetActiveCtrl(h + 50, RUN), UIEInvalidPanel);
}

TEST_F(Keyboard, ShortcutsActAsClicksAndDoNothingOnADimmedControl) {
    Key(Qt::Key_F5);
    EXPECT_EQ(EventsOf(h, RUN), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}));
    Key(Qt::Key_Escape);
    EXPECT_EQ(EventsOf(h, STOP), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}));
    Key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(EventsOf(h, PAGE), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(Value(PAGE), 1.0);

    // From inside a numeric field being typed in, the shortcut acts as the mouse would: the field
    // commits what was typed, then the button is clicked.
    SetActiveCtrl(h, NUM);
    qobject_cast<QDoubleSpinBox *>(W(NUM))->selectAll();
    Key(Qt::Key_7);
    Recorded().clear();
    Key(Qt::Key_F5);
    const std::vector<RecordedEvent> order = {{h, NUM, EVENT_VAL_CHANGED},
                                              {h, NUM, EVENT_COMMIT},
                                              {h, RUN, EVENT_LEFT_CLICK},
                                              {h, RUN, EVENT_COMMIT}};
    EXPECT_EQ(Recorded(), order);
    EXPECT_EQ(Value(NUM), 7.0);
    EXPECT_EQ(Focus(), W(RUN));

    Recorded().clear();
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 1);
    SetCtrlAttribute(h, PAGE, ATTR_DIMMED, 1);
    Key(Qt::Key_F5);
    Key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_TRUE(Recorded().empty());
    EXPECT_EQ(Value(PAGE), 1.0);

    // The left click may dim the control itself: then no commit follows, as for the mouse.
    SetCtrlAttribute(h, RUN, ATTR_DIMMED, 0);
    g_onEvent = [this](int, int control, int event) {
        if (control == RUN && event == EVENT_LEFT_CLICK) SetCtrlAttribute(h, RUN, ATTR_DIMMED, 1);
    };
    Key(Qt::Key_F5);
    EXPECT_EQ(EventsOf(h, RUN), std::vector<int>{EVENT_LEFT_CLICK});
}

TEST_F(Keyboard, TooltipsComeFromThePanelFileWithTheShortcut) {
    EXPECT_EQ(W(RUN)->toolTip(), QStringLiteral("Measure\nShortcut: F5"));
    EXPECT_EQ(W(STOP)->toolTip(), QStringLiteral("End the loop\nShortcut: Esc"));
    EXPECT_EQ(W(NUM)->toolTip(), QStringLiteral("Edge, 0 to 1000 pixel"));
    // Every part of the slide shows it, the number box too.
    for (QWidget *part : W(SLIDE)->findChildren<QWidget *>())
        EXPECT_EQ(part->toolTip(), QStringLiteral("Threshold, 10 to 950 %"));

    // A shortcut Qt cannot read is a malformed panel file.
    std::string bad = kPanel;
    bad.replace(bad.find("\"F5\""), 4, "\"Frobnicate+Q\"");
    PanelFile badFile(bad);
    EXPECT_EQ(LoadPanel(0, badFile.path().c_str(), 9), UIEBadPanelFile);
}

TEST_F(Keyboard, TheWheelChangesNothingWithoutFocusAndNeverChoosesAnItem) {
    struct Case {
        int control;
        QWidget *target;
    };
    auto *slider = W(SLIDE)->findChild<QSlider *>();
    ASSERT_NE(slider, nullptr);
    SetActiveCtrl(h, TEACH);
    const Case cases[] = {{NUM, W(NUM)}, {RING, W(RING)}, {SLIDE, slider}, {PORT, W(PORT)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.control);
        const double before = Value(c.control);
        Wheel(c.target, 1);
        Wheel(c.target, -2);
        EXPECT_EQ(Value(c.control), before);
        EXPECT_TRUE(Recorded().empty());
        EXPECT_EQ(Focus(), W(TEACH)); // the wheel does not take the focus either
    }

    // With the focus, the wheel steps a numeric field as its arrows do ...
    SetActiveCtrl(h, NUM);
    Wheel(W(NUM), 1);
    EXPECT_EQ(Value(NUM), 6.0);
    EXPECT_EQ(EventsOf(h, NUM), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));
    // ... but a drop-down still takes no choice from it.
    Recorded().clear();
    SetActiveCtrl(h, PORT);
    Wheel(W(PORT), -1);
    EXPECT_EQ(Value(PORT), 1.0);
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(Keyboard, ADropDownCommitsAKeyboardSelectionOnlyOnEnter) {
    auto *ring = qobject_cast<QComboBox *>(W(RING));
    SetActiveCtrl(h, RING);
    Key(Qt::Key_Down);
    EXPECT_EQ(ring->currentText(), QStringLiteral("Two")); // shown, not chosen
    EXPECT_EQ(Value(RING), 1.0);
    EXPECT_TRUE(Recorded().empty());
    Key(Qt::Key_Return);
    EXPECT_EQ(Value(RING), 2.0);
    EXPECT_EQ(EventsOf(h, RING), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));

    // Enter on the value it already has is no choice.
    Recorded().clear();
    Key(Qt::Key_Return);
    EXPECT_TRUE(Recorded().empty());

    // A selection never confirmed is dropped when the focus leaves.
    Key(Qt::Key_Up);
    Key(Qt::Key_Up);
    EXPECT_EQ(ring->currentText(), QStringLiteral("Zero"));
    SetActiveCtrl(h, NUM);
    EXPECT_EQ(ring->currentText(), QStringLiteral("Two"));
    EXPECT_EQ(Value(RING), 2.0);
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(Keyboard, TheSlidesNumberBoxTakesTypedValuesAndDigitsNeverReachAnotherControl) {
    auto *slider = W(SLIDE)->findChild<QSlider *>();
    auto *box = W(SLIDE)->findChild<QDoubleSpinBox *>();
    ASSERT_NE(slider, nullptr);
    ASSERT_NE(box, nullptr);
    // The operator was last in the setpoint field, then went to the slider.
    SetActiveCtrl(h, OTHER);
    SetActiveCtrl(h, SLIDE);
    ASSERT_EQ(Focus(), slider);

    // Digits typed at the slider start over in its own box; Enter commits them.
    for (int key : {Qt::Key_4, Qt::Key_2, Qt::Key_0})
        Key(key);
    EXPECT_EQ(Focus(), box);
    EXPECT_TRUE(Recorded().empty());
    Key(Qt::Key_Return);
    EXPECT_EQ(Value(SLIDE), 420.0);
    EXPECT_EQ(slider->value(), 420);
    EXPECT_EQ(EventsOf(h, SLIDE), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(Value(OTHER), 512.0);
    EXPECT_TRUE(EventsOf(h, OTHER).empty());

    // Leaving the box after typing commits too; the box holds the slide's range.
    Recorded().clear();
    box->selectAll();
    for (int key : {Qt::Key_9, Qt::Key_9, Qt::Key_9, Qt::Key_9})
        Key(key);
    SetActiveCtrl(h, TEACH);
    EXPECT_LE(Value(SLIDE), 950.0);
    EXPECT_GE(Value(SLIDE), 10.0);
    EXPECT_NE(Value(SLIDE), 420.0);
    EXPECT_EQ(EventsOf(h, SLIDE), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));

    // Tab moves from the slider to its box; a value set from code shows in both, silently.
    SetActiveCtrl(h, SLIDE);
    Key(Qt::Key_Tab);
    EXPECT_EQ(Focus(), box);
    Recorded().clear();
    SetCtrlVal(h, SLIDE, 300);
    EXPECT_EQ(box->value(), 300.0);
    EXPECT_EQ(slider->value(), 300);
    EXPECT_TRUE(Recorded().empty());
}

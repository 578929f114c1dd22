// The program at the keyboard: focus around RUN and VIDEO, the shortcuts of the panel file, the
// tooltips of every control, the wheel over the port choice.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include <map>

#include "../measure/loop_helpers.h"
#include "K-VOR-RNZazorU30.h"
#include "fixtures.h"
#include "state.h"
#include "testhooks.h"
#include "userint.h"

namespace {

QWidget *Widget(int panel, int control) {
    return static_cast<QWidget *>(CtrlWidget(panel, control));
}

int Dimmed(int control) {
    int dimmed = -1;
    GetCtrlAttribute(pHandle, control, ATTR_DIMMED, &dimmed);
    return dimmed;
}

size_t CountOf(const std::vector<kvorsim::Request> &log, uint16_t command) {
    size_t n = 0;
    for (const kvorsim::Request &r : log)
        n += r.command == command;
    return n;
}

class AtTheKeyboard : public SensorTest {
  protected:
    void SetUp() override {
        SensorTest::SetUp();
        if (HasFatalFailure()) return;
        Connect();
        DisplayPanel(pHandle);
        window = static_cast<QWidget *>(PanelWidget(pHandle));
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(WaitUntil([this] { return QApplication::activeWindow() == window; }));
    }
    // A key as the operator presses it: to whatever has the focus.
    void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget *to = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(to, static_cast<Qt::Key>(key), mods);
    }
    Schedule schedule;
    QWidget *window = nullptr;
};

} // namespace

TEST_F(AtTheKeyboard, FocusIsOnStopWhileVideoRunsAndBackOnVideoAfterwardsSoSpaceNeverTeaches) {
    QWidget *focusDuring = nullptr;
    schedule.when([&] { return sim->requestCount() >= 10; },
                  [&] {
                      focusDuring = QApplication::focusWidget();
                      UserClick(pHandle, PANEL_BTNStop);
                  });
    schedule.safetyStop(20.0);
    SetActiveCtrl(pHandle, PANEL_BTNVideo);
    Press(Qt::Key_Space); // VIDEO from the keyboard; returns when the loop has ended
    EXPECT_FALSE(schedule.safetyFired());
    EXPECT_EQ(focusDuring, Widget(pHandle, PANEL_BTNStop));
    EXPECT_EQ(QApplication::focusWidget(), Widget(pHandle, PANEL_BTNVideo));

    // A second Space starts VIDEO again instead of teaching.
    const size_t before = sim->requestCount();
    schedule.when([&] { return sim->requestCount() >= before + 10; },
                  [] { UserClick(pHandle, PANEL_BTNStop); });
    Press(Qt::Key_Space);
    EXPECT_EQ(CountOf(sim->requests(), 6), 0u);
    EXPECT_GT(CountOf(sim->requests(), 8), 2u);
    EXPECT_EQ(QApplication::focusWidget(), Widget(pHandle, PANEL_BTNVideo));
}

TEST_F(AtTheKeyboard, EscEndsRunAndF5DoesNothingWhileRunIsDimmed) {
    int runDimmed = -1;
    size_t atF5 = 0, afterF5 = 0;
    QWidget *focusDuring = nullptr;
    schedule.when([&] { return sim->requestCount() >= 5; },
                  [&] {
                      runDimmed = Dimmed(PANEL_BTNRun);
                      focusDuring = QApplication::focusWidget();
                      atF5 = sim->requestCount();
                      Press(Qt::Key_F5); // would nest a second RUN if it acted
                      afterF5 = sim->requestCount();
                      Press(Qt::Key_Escape);
                  });
    schedule.safetyStop(20.0);
    Press(Qt::Key_F5);
    EXPECT_FALSE(schedule.safetyFired()); // Esc ended the loop
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(runDimmed, 1);
    EXPECT_LE(afterF5, atF5 + 1); // F5 returned at once: no loop of its own ran
    EXPECT_EQ(focusDuring, Widget(pHandle, PANEL_BTNStop));
    EXPECT_EQ(QApplication::focusWidget(), Widget(pHandle, PANEL_BTNRun));
    EXPECT_GT(CountOf(sim->requests(), 8), 2u);
    // Esc acted as the mouse does: the STOP commit released GET.
    EXPECT_EQ(Dimmed(PANEL_BTNGet), 0);
}

TEST_F(AtTheKeyboard, PageShortcutsShowTheirPages) {
    Press(Qt::Key_2, Qt::ControlModifier);
    EXPECT_TRUE(PanelVisible(pPara2));
    EXPECT_FALSE(PanelVisible(pPara1));
    Press(Qt::Key_3, Qt::ControlModifier);
    EXPECT_TRUE(PanelVisible(pCalib));
    EXPECT_FALSE(PanelVisible(pPara2));
    Press(Qt::Key_1, Qt::ControlModifier);
    EXPECT_TRUE(PanelVisible(pPara1));
    EXPECT_FALSE(PanelVisible(pCalib));
}

TEST_F(AtTheKeyboard, TheWheelOverThePortChoiceLeavesTheLinkAlone) {
    QWidget *port = Widget(pHandle, PANEL_DropDCom);
    for (int steps : {1, -1, 3}) {
        const QPointF at(port->width() / 2.0, port->height() / 2.0);
        QWheelEvent wheel(at, port->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(port, &wheel);
    }
    int chosen = 0;
    GetCtrlVal(pHandle, PANEL_DropDCom, &chosen);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(com, 1);
    EXPECT_TRUE(sim->requests().empty()); // nothing re-read
}

TEST_F(AtTheKeyboard, EveryControlHasItsTooltipFromThePanelFile) {
    QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/K-VOR-RNZazorU30.uir"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray panels = QJsonDocument::fromJson(file.readAll()).object().value("panels").toArray();
    const std::map<int, int> handles = {{1, pCalib}, {2, pHandle}, {3, pPara1}, {4, pPara2}, {5, pPopup}};
    int checked = 0, withKey = 0;
    for (const QJsonValue &pv : panels) {
        const QJsonObject p = pv.toObject();
        const int handle = handles.at(p.value("resource_id").toInt());
        int id = 2; // controls are numbered in file order
        for (const QJsonValue &cv : p.value("controls").toArray()) {
            const QJsonObject c = cv.toObject();
            QWidget *w = Widget(handle, id++);
            ASSERT_NE(w, nullptr);
            const QString name = c.value("name").toString();
            const QString text = c.value("tooltip").toString();
            EXPECT_FALSE(text.isEmpty()) << name.toStdString();
            EXPECT_TRUE(w->toolTip().startsWith(text)) << name.toStdString();
            EXPECT_FALSE(w->toolTip().isEmpty()) << name.toStdString();
            const QString key = c.value("shortcut").toString();
            if (!key.isEmpty()) {
                ++withKey;
                EXPECT_TRUE(w->toolTip().endsWith(QStringLiteral("Shortcut: ") + key)) << name.toStdString();
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 50);
    EXPECT_EQ(withKey, 10); // RUN, VIDEO, STOP, GET, SEND, Teach and the four toggles
}

// Panels: loading from the panel file, handles, windows and pages, the close button.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "testhooks.h"
#include "platform_test_util.h"
#include "userint.h"

namespace {

const char *kPanels = R"({
 "panels": [
  {"resource_id": 1, "name": "MAIN", "title": "Main window", "width": 400, "height": 300,
   "callback": "T_RecordPanel",
   "controls": [
    {"name": "GO", "kind": "command_button", "left": 10, "top": 20, "width": 80, "height": 26,
     "label": "GO", "callback": "T_Record"},
    {"name": "EDGE", "kind": "numeric", "left": 10, "top": 80, "width": 90, "height": 24,
     "label": "Left edge", "type": "uint16", "min": 0, "max": 4096, "value": 12}
   ]},
  {"resource_id": 2, "name": "PAGE", "title": "Page", "width": 200, "height": 100,
   "controls": [
    {"name": "P1", "kind": "numeric", "left": 10, "top": 30, "type": "int32", "value": -3}
   ]},
  {"resource_id": 3, "name": "ODD", "width": 100, "height": 100, "callback": "T_NoSuchPanelCb",
   "controls": []},
  {"resource_id": 4, "name": "ODD2", "width": 100, "height": 100,
   "controls": [{"name": "B", "kind": "command_button", "callback": "T_NoSuchCb"}]}
 ]})";

class Panels : public ::testing::Test {
  protected:
    void SetUp() override { RegisterRecorders(); }
    void TearDown() override {
        for (int h : handles)
            if (PanelWidget(h)) DiscardPanel(h);
        g_onEvent = nullptr;
    }
    int Load(int parent, int id) {
        const int h = LoadPanel(parent, file.path().c_str(), id);
        if (h > 0) handles.push_back(h);
        return h;
    }
    PanelFile file{kPanels};
    std::vector<int> handles;
};

TEST_F(Panels, LoadFailuresGiveTheirCodes) {
    EXPECT_EQ(LoadPanel(0, "/nonexistent/dir/none.uir", 1), UIEPanelFileNotFound);
    EXPECT_EQ(LoadPanel(0, "no-such-panel-file.uir", 1), UIEPanelFileNotFound);
    EXPECT_EQ(Load(0, 99), UIEResourceNotFound);
    EXPECT_EQ(Load(0, 3), UIECallbackNotFound);
    EXPECT_EQ(Load(0, 4), UIECallbackNotFound);
    EXPECT_EQ(Load(77, 2), UIEInvalidPanel); // no such parent

    PanelFile broken(R"({"panels": [ {"resource_id": 1, "name": "X", )");
    EXPECT_EQ(LoadPanel(0, broken.path().c_str(), 1), UIEBadPanelFile);
    PanelFile badKind(R"({"panels": [{"resource_id": 1, "name": "X", "width": 10, "height": 10,
        "controls": [{"name": "K", "kind": "knob"}]}]})");
    EXPECT_EQ(LoadPanel(0, badKind.path().c_str(), 1), UIEBadPanelFile);
    PanelFile badType(R"({"panels": [{"resource_id": 1, "name": "X", "width": 10, "height": 10,
        "controls": [{"name": "K", "kind": "numeric", "type": "int64"}]}]})");
    EXPECT_EQ(LoadPanel(0, badType.path().c_str(), 1), UIEBadPanelFile);
    PanelFile badRange(R"({"panels": [{"resource_id": 1, "name": "X", "width": 10, "height": 10,
        "controls": [{"name": "K", "kind": "numeric", "min": 5, "max": 1}]}]})");
    EXPECT_EQ(LoadPanel(0, badRange.path().c_str(), 1), UIEBadPanelFile);
    // A slide's positions are the slider's whole numbers: a range beyond them is refused
    // (the slider would be stuck at 0), one within them loads.
    for (const char *range : {R"("type": "uint32", "min": 0, "max": 4000000000)",
                              R"("type": "double", "min": -1e12, "max": 5)"}) {
        PanelFile wideSlide(std::string(R"({"panels": [{"resource_id": 1, "name": "X", "width": 10, "height": 10,
            "controls": [{"name": "K", "kind": "slide", )") + range + "}]}]}");
        EXPECT_EQ(LoadPanel(0, wideSlide.path().c_str(), 1), UIEBadPanelFile) << range;
    }
    PanelFile noPanels(R"({"format": "kvor-panels"})");
    EXPECT_EQ(LoadPanel(0, noPanels.path().c_str(), 1), UIEBadPanelFile);
    // None of the failed loads took a handle.
    const int h = Load(0, 1);
    EXPECT_EQ(h, 1);
}

TEST_F(Panels, RelativeNameIsFoundInTheCurrentDirectory) {
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(file.dir.path()));
    const int h = LoadPanel(0, "test.uir", 2);
    QDir::setCurrent(before);
    ASSERT_GT(h, 0);
    handles.push_back(h);
}

TEST_F(Panels, HandlesAreTheLowestFreeNumbers) {
    const int a = Load(0, 1), b = Load(0, 1), c = Load(0, 2);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(DiscardPanel(b), 0);
    EXPECT_EQ(DiscardPanel(b), UIEInvalidPanel);
    EXPECT_EQ(Load(0, 2), 2);
    for (int h : {1, 2, 3})
        DiscardPanel(h);
    // After every panel is gone the first panel loaded is handle 1 again.
    EXPECT_EQ(Load(0, 1), 1);
}

TEST_F(Panels, ControlsAreNumberedFromTwoInFileOrder) {
    const int h = Load(0, 1);
    ASSERT_GT(h, 0);
    auto *go = qobject_cast<QPushButton *>(static_cast<QWidget *>(CtrlWidget(h, 2)));
    ASSERT_NE(go, nullptr);
    EXPECT_EQ(go->text(), QStringLiteral("GO"));
    unsigned short edge = 0;
    EXPECT_EQ(GetCtrlVal(h, 3, &edge), 0);
    EXPECT_EQ(edge, 12);
    EXPECT_EQ(CtrlWidget(h, 4), nullptr);
    EXPECT_EQ(SetCtrlVal(h, 4, 1), UIEInvalidControl);
    EXPECT_EQ(SetCtrlVal(99, 2, 1), UIEInvalidPanel);

    // The edit's label stands just above its box.
    auto *panel = static_cast<QWidget *>(PanelWidget(h));
    QLabel *caption = nullptr;
    for (QLabel *l : panel->findChildren<QLabel *>())
        if (l->text() == QStringLiteral("Left edge")) caption = l;
    ASSERT_NE(caption, nullptr);
    EXPECT_LE(caption->geometry().bottom(), 80);
    EXPECT_GE(caption->geometry().top(), 80 - 20);
}

TEST_F(Panels, TopLevelPanelIsAWindowShownOnlyWhenDisplayed) {
    const int h = Load(0, 1);
    auto *w = static_cast<QWidget *>(PanelWidget(h));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Main window"));
    EXPECT_EQ(w->size(), QSize(400, 300));
    EXPECT_FALSE(PanelVisible(h));
    EXPECT_EQ(DisplayPanel(h), 0);
    EXPECT_TRUE(PanelVisible(h));
    EXPECT_TRUE(w->isVisible());
    int visible = -1;
    EXPECT_EQ(GetPanelAttribute(h, ATTR_VISIBLE, &visible), 0);
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(HidePanel(h), 0);
    EXPECT_FALSE(PanelVisible(h));
    EXPECT_EQ(SetPanelAttribute(h, ATTR_TITLE, "K-VOR \xB5"), 0);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("K-VOR ") + QChar(0xB5));
}

TEST_F(Panels, ClosingTheWindowAsksTheProgramAndTheWindowStays) {
    const int h = Load(0, 1);
    DisplayPanel(h);
    EXPECT_EQ(UserClosePanel(h), 0);
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0], (RecordedEvent{h, 0, EVENT_CLOSE}));
    EXPECT_TRUE(PanelVisible(h));
    EXPECT_TRUE(static_cast<QWidget *>(PanelWidget(h))->isVisible());
    // The program decides: here it hides the window.
    g_onEvent = [](int panel, int, int event) {
        if (event == EVENT_CLOSE) HidePanel(panel);
    };
    UserClosePanel(h);
    EXPECT_FALSE(PanelVisible(h));
    EXPECT_EQ(Recorded().size(), 2u);
}

TEST_F(Panels, PagesSitInsideTheirParentWhereTheProgramPutsThem) {
    const int main = Load(0, 1);
    const int page = Load(main, 2);
    ASSERT_GT(page, 0);
    auto *pw = static_cast<QWidget *>(PanelWidget(page));
    EXPECT_EQ(pw->parentWidget(), static_cast<QWidget *>(PanelWidget(main)));
    EXPECT_FALSE(PanelVisible(page));
    EXPECT_EQ(UserClosePanel(page), UIEInvalidPanel); // a page has no window
    EXPECT_EQ(SetPanelAttribute(page, ATTR_LEFT, 8), 0);
    EXPECT_EQ(SetPanelAttribute(page, ATTR_TOP, 105), 0);
    int left = 0, top = 0;
    GetPanelAttribute(page, ATTR_LEFT, &left);
    GetPanelAttribute(page, ATTR_TOP, &top);
    EXPECT_EQ(left, 8);
    EXPECT_EQ(top, 105);
    EXPECT_EQ(pw->pos(), QPoint(8, 105));
    DisplayPanel(page);
    EXPECT_TRUE(PanelVisible(page));
    int value = 0;
    EXPECT_EQ(GetCtrlVal(page, 2, &value), 0);
    EXPECT_EQ(value, -3);
    // The page goes with its parent.
    EXPECT_EQ(DiscardPanel(main), 0);
    EXPECT_EQ(PanelWidget(page), nullptr);
    EXPECT_EQ(DisplayPanel(page), UIEInvalidPanel);
}

TEST_F(Panels, DiscardingTheOwnPanelInsideItsCallbackIsSafe) {
    const int h = Load(0, 1);
    DisplayPanel(h);
    QPointer<QWidget> w = static_cast<QWidget *>(PanelWidget(h));
    g_onEvent = [](int panel, int, int event) {
        if (event == EVENT_LEFT_CLICK) DiscardPanel(panel);
    };
    EXPECT_EQ(UserClick(h, 2), 0);
    // Gone for the program at once; the commit never came.
    EXPECT_EQ(PanelWidget(h), nullptr);
    EXPECT_EQ(EventsOf(h, 2), std::vector<int>{EVENT_LEFT_CLICK});
    EXPECT_TRUE(PollUntil([&] { return w.isNull(); }, 2.0));
    handles.clear();
}

// The program's own panel file, with its callbacks swapped for the recorders, loads whole.
TEST_F(Panels, TheProgramsPanelFileLoads) {
    QFile real(QCoreApplication::applicationDirPath() + "/K-VOR-RNZazorU30.uir");
    if (!real.open(QIODevice::ReadOnly)) GTEST_SKIP() << "panel file not beside the test program";
    QJsonObject root = QJsonDocument::fromJson(real.readAll()).object();
    QJsonArray panels = root.value("panels").toArray();
    for (int i = 0; i < panels.size(); ++i) {
        QJsonObject p = panels[i].toObject();
        if (p.contains("callback")) p["callback"] = "T_RecordPanel";
        QJsonArray controls = p.value("controls").toArray();
        for (int k = 0; k < controls.size(); ++k) {
            QJsonObject c = controls[k].toObject();
            if (c.contains("callback")) c["callback"] = "T_Record";
            controls[k] = c;
        }
        p["controls"] = controls;
        panels[i] = p;
    }
    root["panels"] = panels;
    PanelFile copy(QJsonDocument(root).toJson().toStdString());
    const int main = LoadPanel(0, copy.path().c_str(), 2);
    ASSERT_EQ(main, 1);
    handles.push_back(main);
    for (int id : {5, 3, 4, 1}) {
        const int h = LoadPanel(id == 5 ? 0 : main, copy.path().c_str(), id);
        EXPECT_GT(h, 0) << "resource " << id;
        handles.push_back(h);
    }
}

} // namespace

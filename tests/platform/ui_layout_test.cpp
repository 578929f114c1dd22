// The resizable main window: the program's own panel file at several window sizes and on small
// screens, and the panel file's layout keys.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>

#include <map>

#include "platform_test_util.h"
#include "testhooks.h"
#include "userint.h"

namespace {

struct FileControl {
    QString name, kind;
    QRect rect;
};

// The program's panel file with its callbacks swapped for the recorders.
class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
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
                if (p.value("name") == "PANEL")
                    file.push_back({c.value("name").toString(), c.value("kind").toString(),
                                    QRect(c.value("left").toInt(), c.value("top").toInt(),
                                          c.value("width").toInt(), c.value("height").toInt())});
                controls[k] = c;
            }
            p["controls"] = controls;
            panels[i] = p;
        }
        root["panels"] = panels;
        copy = std::make_unique<PanelFile>(QJsonDocument(root).toJson().toStdString());
        main = LoadPanel(0, copy->path().c_str(), 2);
        ASSERT_GT(main, 0);
        page = LoadPanel(main, copy->path().c_str(), 3);
        ASSERT_GT(page, 0);
        SetPanelAttribute(page, ATTR_LEFT, 8);
        SetPanelAttribute(page, ATTR_TOP, 105);
        DisplayPanel(main);
        DisplayPanel(page);
    }
    void TearDown() override {
        if (main > 0) DiscardPanel(main);
    }
    QWidget *Window() { return static_cast<QWidget *>(PanelWidget(main)); }
    QWidget *Canvas() { return static_cast<QWidget *>(PanelCanvasWidget(main)); }
    QScrollArea *Scroll() { return Window()->findChild<QScrollArea *>(); }
    // Control ids follow the file order from 2.
    QWidget *Widget(int index) { return static_cast<QWidget *>(CtrlWidget(main, index + 2)); }
    int Index(const char *name) {
        for (size_t i = 0; i < file.size(); ++i)
            if (file[i].name == QLatin1String(name)) return static_cast<int>(i);
        ADD_FAILURE() << "no control " << name;
        return 0;
    }
    QRect Geometry(const char *name) { return Widget(Index(name))->geometry(); }
    void ResizeWindow(int w, int h) {
        Window()->resize(w, h);
        PollUntil([&] { return Canvas()->size() == QSize(w, h).expandedTo(QSize(1180, 750)); }, 2.0);
    }

    std::unique_ptr<PanelFile> copy;
    std::vector<FileControl> file;
    int main = 0, page = 0;
};

bool InColumn(const QRect &r) {
    return r.right() < 400;
}

TEST_F(MainWindow, IsResizableAndStartsAtThePanelFilesSizeWhenTheScreenHasRoom) {
    EXPECT_NE(Window()->minimumSize(), Window()->maximumSize());
    EXPECT_LE(Window()->minimumWidth(), 400);
    EXPECT_EQ(Canvas()->minimumSize(), QSize(1180, 750));
    Window()->showMaximized();
    EXPECT_TRUE(Window()->isMaximized());
}

// At each size the graphs take the growth, the control column and the page keep their places,
// the right-hand controls keep their distance to the right edge, and no two controls overlap.
TEST_F(MainWindow, GraphsGrowAndTheControlColumnKeepsItsSize) {
    struct Size {
        int w, h;
    };
    for (const Size s : {Size{1180, 750}, Size{1400, 900}, Size{1920, 1050}, Size{1250, 760}}) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        ResizeWindow(s.w, s.h);
        const QSize canvas = Canvas()->size();
        ASSERT_EQ(canvas, QSize(s.w, s.h));
        const int gx = canvas.width() - 1180, gy = canvas.height() - 750;

        EXPECT_EQ(Geometry("GRAPH"), QRect(404, 122, 768 + gx, 128));
        EXPECT_EQ(Geometry("VIDEOGRAPH"), QRect(404, 384, 768 + gx, 316 + gy));
        EXPECT_EQ(Geometry("STRIPCHART"), Geometry("VIDEOGRAPH"));
        EXPECT_EQ(Geometry("STATUS"), QRect(8, 716 + gy, 1164 + gx, 26));
        EXPECT_EQ(Geometry("LOGOFRAME").width(), canvas.width());
        for (const char *right : {"NEDITEdgeRight", "ZOOM"})
            EXPECT_EQ(canvas.width() - Geometry(right).right(), 1180 - file[Index(right)].rect.right())
                << right;

        for (size_t i = 0; i < file.size(); ++i)
            if (InColumn(file[i].rect)) {
                EXPECT_EQ(Widget(static_cast<int>(i))->geometry(), file[i].rect)
                    << file[i].name.toStdString();
            }
        EXPECT_EQ(static_cast<QWidget *>(PanelWidget(page))->geometry(), QRect(8, 105, 380, 300));

        // Controls and their labels: inside the canvas, and apart from one another. The frames
        // hold controls by design, and the history and the video graph share one place.
        std::vector<std::pair<QString, QRect>> boxes;
        for (size_t i = 0; i < file.size(); ++i) {
            if (file[i].kind == "decoration" || file[i].kind == "picture" || file[i].name == "STRIPCHART")
                continue;
            QWidget *w = Widget(static_cast<int>(i));
            boxes.push_back({file[i].name, w->geometry()});
            for (QLabel *l : Canvas()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
                if (l != w && l->isVisibleTo(Canvas()) && l->geometry().bottom() == w->geometry().top() - 2 &&
                    l->x() == w->x())
                    boxes.push_back({file[i].name + " label", l->geometry()});
        }
        boxes.push_back({"page", QRect(8, 105, 380, 300)});
        for (size_t a = 0; a < boxes.size(); ++a) {
            EXPECT_TRUE(QRect(QPoint(0, 0), canvas).contains(boxes[a].second))
                << boxes[a].first.toStdString();
            for (size_t b = a + 1; b < boxes.size(); ++b)
                EXPECT_FALSE(boxes[a].second.intersects(boxes[b].second))
                    << boxes[a].first.toStdString() << " overlaps " << boxes[b].first.toStdString();
        }
    }
}

TEST_F(MainWindow, ShrinkingBackRestoresThePanelFilesPlaces) {
    ResizeWindow(1800, 1000);
    ResizeWindow(1180, 750);
    for (size_t i = 0; i < file.size(); ++i)
        if (file[i].kind != "picture" && file[i].name != "LOGOFRAME") {
            EXPECT_EQ(Widget(static_cast<int>(i))->geometry(), file[i].rect) << file[i].name.toStdString();
        }
}

// A control the program moves after the window grew lands where its anchors put it.
TEST_F(MainWindow, ProgramMovesFollowTheGrowth) {
    ResizeWindow(1300, 800);
    const int zoom = Index("ZOOM") + 2;
    EXPECT_EQ(SetCtrlAttribute(main, zoom, ATTR_LEFT, 1000), 0);
    EXPECT_EQ(Widget(Index("ZOOM"))->x(), 1000 + 120);
    int left = 0;
    GetCtrlAttribute(main, zoom, ATTR_LEFT, &left);
    EXPECT_EQ(left, 1000); // the program reads back its own coordinates
}

// Screens smaller than the window: the window fits the free area, and every control can be
// scrolled into view. 1366 x 768 with a 40-pixel taskbar; 1920 x 1080 at 150 % (1280 x 720
// logical, taskbar 27); at 200 % (960 x 540).
TEST_F(MainWindow, OnSmallScreensTheWindowFitsAndEveryControlCanBeReached) {
    struct Area {
        int w, h;
    };
    for (const Area a : {Area{1366, 728}, Area{1280, 693}, Area{960, 513}}) {
        SCOPED_TRACE(testing::Message() << a.w << "x" << a.h);
        ASSERT_EQ(FitPanelToScreenArea(main, 0, 0, a.w, a.h), 0);
        QCoreApplication::processEvents();
        const QSize window = Window()->size();
        EXPECT_LE(window.width(), a.w);
        EXPECT_LE(window.height(), a.h - 30); // room for a title bar
        if (a.w >= 1200) {
            EXPECT_GE(window.width(), 1180); // no sideways scrolling when the width fits
        }
        QScrollArea *scroll = Scroll();
        ASSERT_NE(scroll, nullptr);
        const QRect view(QPoint(0, 0), scroll->viewport()->size());
        for (size_t i = 0; i < file.size(); ++i) {
            QWidget *w = Widget(static_cast<int>(i));
            scroll->ensureWidgetVisible(w, 0, 0);
            QCoreApplication::processEvents();
            const QRect shown(w->mapTo(scroll->viewport(), QPoint(0, 0)), w->size());
            const QRect seen = shown & view;
            EXPECT_GE(seen.width(), std::min(w->width(), view.width())) << file[i].name.toStdString();
            EXPECT_GE(seen.height(), std::min(w->height(), view.height())) << file[i].name.toStdString();
        }
    }
    // Where the screen has room, the window keeps the panel file's size.
    ASSERT_EQ(FitPanelToScreenArea(main, 0, 0, 1920, 1040), 0);
    EXPECT_EQ(Window()->size(), QSize(1180, 750));
}

// On a screen too short for it, the window shows the panel's lower part when it is shown: the
// status line and the measurement buttons.
TEST_F(MainWindow, AShortWindowShowsThePanelsLowerPart) {
    ASSERT_EQ(FitPanelToScreenArea(main, 0, 0, 1366, 728), 0);
    HidePanel(main);
    DisplayPanel(main);
    QScrollBar *bar = Scroll()->verticalScrollBar();
    ASSERT_TRUE(PollUntil([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 2.0));
    QWidget *status = Widget(Index("STATUS"));
    const QRect shown(status->mapTo(Scroll()->viewport(), QPoint(0, 0)), status->size());
    EXPECT_TRUE(Scroll()->viewport()->rect().contains(QRect(shown.topLeft(), QSize(10, shown.height()))));
}

// The layout keys of the panel file: what they accept and what makes the file malformed.
TEST(PanelFileLayoutKeys, AreCheckedWhenThePanelLoads) {
    RegisterRecorders();
    struct Case {
        const char *control;
        const char *panelExtra;
        bool loads;
    };
    const Case cases[] = {
        {R"({"name": "G", "kind": "graph", "anchor": "left right top bottom", "zoom": true,
             "csv_columns": ["x", "y"]})",
         "", true},
        {R"({"name": "B", "kind": "command_button", "anchor": "right"})", R"("resizable": true,)", true},
        {R"({"name": "B", "kind": "command_button", "anchor": "middle"})", "", false},
        {R"({"name": "B", "kind": "command_button", "anchor": 3})", "", false},
        {R"({"name": "B", "kind": "command_button", "zoom": true})", "", false},
        {R"({"name": "G", "kind": "graph", "zoom": "yes"})", "", false},
        {R"({"name": "G", "kind": "graph", "csv_columns": ["x"]})", "", false},
        {R"({"name": "G", "kind": "graph", "csv_columns": ["x", ""]})", "", false},
        {R"({"name": "B", "kind": "command_button", "csv_columns": ["x", "y"]})", "", false},
        {R"({"name": "S", "kind": "strip_chart", "csv_columns": ["n", "a"]})", "", true},
        {R"({"name": "B", "kind": "command_button"})", R"("resizable": 1,)", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.control);
        PanelFile f(
            std::string(R"({"panels": [{"resource_id": 1, "name": "X", "width": 300, "height": 200, )") +
            c.panelExtra + R"( "controls": [)" + c.control + "]}]}");
        const int h = LoadPanel(0, f.path().c_str(), 1);
        if (c.loads) {
            EXPECT_GT(h, 0);
            if (h > 0) DiscardPanel(h);
        } else {
            EXPECT_EQ(h, UIEBadPanelFile);
        }
    }
}

} // namespace

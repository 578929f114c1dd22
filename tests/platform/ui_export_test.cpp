// Graphs saved from their context menu (pictures and CSV data), and the video graph's zoom.
#include <gtest/gtest.h>

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cstdint>

#include "platform_test_util.h"
#include "testhooks.h"
#include "userint.h"
#include "utility.h"

namespace {

const char *kGraphs = R"({
 "panels": [
  {"resource_id": 1, "name": "G", "title": "Graphs", "width": 900, "height": 760,
   "controls": [
    {"name": "VIDEO", "kind": "graph", "left": 10, "top": 30, "width": 600, "height": 300,
     "label": "CCD video line", "x_min": 1, "x_max": 4096, "y_min": 0, "y_max": 1024,
     "zoom": true, "csv_columns": ["pixel", "value", "threshold"]},
    {"name": "PLAIN", "kind": "graph", "left": 10, "top": 360, "width": 300, "height": 150},
    {"name": "STRIP", "kind": "strip_chart", "left": 10, "top": 540, "width": 600,
     "height": 200, "label": "History", "points_per_screen": 5, "traces": 2,
     "y_min": 0, "y_max": 100, "csv_columns": ["sample", "upper", "lower"]}
   ]}
 ]})";

enum { VIDEO = 2, PLAIN, STRIP };

std::vector<std::string> g_reports;
void RecordReport(const char *text) {
    g_reports.emplace_back(text);
}

class Export : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterRecorders();
        g_reports.clear();
        SetExportReport(RecordReport);
        ClearFileSelectAnswers();
        h = LoadPanel(0, file.path().c_str(), 1);
        ASSERT_GT(h, 0);
        DisplayPanel(h);
    }
    void TearDown() override {
        SetExportReport(nullptr);
        ClearFileSelectAnswers();
        if (h > 0) DiscardPanel(h);
    }
    QCustomPlot *Plot(int control) {
        return qobject_cast<QCustomPlot *>(static_cast<QWidget *>(CtrlWidget(h, control)));
    }
    std::string Path(const char *name) { return (file.dir.path() + "/" + name).toStdString(); }
    QByteArray Read(const std::string &path) {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The operator picks the file in the dialog, then the menu entry writes it.
    int Save(int control, int format, const std::string &path) {
        PresetFileSelectAnswer(VAL_NEW_FILE_SELECTED, path);
        return UserExportGraph(h, control, format);
    }
    void PlotVideoLine() {
        const double x[4] = {1.0, 2.5, 1000.0, 4096.0};
        const std::uint16_t video[4] = {10, 20, 1023, 0};
        const std::uint16_t threshold[4] = {512, 512, 512, 512};
        PlotRectangle(h, VIDEO, 100.0, 0.0, 200.0, 50.0, VAL_GREEN, VAL_GREEN); // not a line
        PlotXY(h, VIDEO, x, video, 4, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER, VAL_CONNECTED_POINTS,
               VAL_NO_POINT, VAL_SOLID, 1, VAL_RED);
        PlotXY(h, VIDEO, x, threshold, 4, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER, VAL_CONNECTED_POINTS,
               VAL_NO_POINT, VAL_SOLID, 1, VAL_DK_GREEN);
    }
    PanelFile file{kGraphs};
    int h = 0;
};

TEST_F(Export, PicturesAreWrittenInTheFormatChosen) {
    PlotVideoLine();
    const double history[4] = {10, 90, 20, 80};
    PlotStripChart(h, STRIP, history, 4, 0, 0, VAL_DOUBLE);
    struct Case {
        int format;
        const char *name;
        QByteArray magic;
    };
    const Case cases[] = {{EXPORT_PNG, "video.png", QByteArray("\x89PNG\r\n\x1a\n", 8)},
                          {EXPORT_PDF, "video.pdf", "%PDF-"},
                          {EXPORT_SVG, "video.svg", "<?xml"}};
    for (int control : {VIDEO, PLAIN, STRIP})
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << "control " << control << " " << c.name);
            const std::string path = Path((std::to_string(control) + c.name).c_str());
            EXPECT_EQ(Save(control, c.format, path), 1);
            const QByteArray bytes = Read(path);
            EXPECT_TRUE(bytes.startsWith(c.magic));
            EXPECT_GT(bytes.size(), 500);
            if (c.format == EXPORT_SVG) {
                EXPECT_TRUE(bytes.contains("<svg"));
            }
            if (c.format == EXPORT_PDF) {
                EXPECT_TRUE(bytes.trimmed().endsWith("%%EOF"));
            }
        }
    // The picture is the plot at its size on the screen, with the red line drawn in it.
    QImage png(QString::fromStdString(Path("2video.png")));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), Plot(VIDEO)->size());
    int red = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x) {
            const QColor c = png.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
        }
    EXPECT_GT(red, 50);
    ASSERT_FALSE(g_reports.empty());
    EXPECT_EQ(g_reports.back(), "Saved " + Path("4video.svg"));
}

TEST_F(Export, VideoLineAsCsvIsThePlottedData) {
    PlotVideoLine();
    const std::string path = Path("line.csv");
    ASSERT_EQ(Save(VIDEO, EXPORT_CSV, path), 1);
    EXPECT_EQ(Read(path), QByteArray("pixel,value,threshold\n"
                                     "1,10,512\n"
                                     "2.5,20,512\n"
                                     "1000,1023,512\n"
                                     "4096,0,512\n"));
    const FileSelectRequest asked = LastFileSelectRequest();
    EXPECT_EQ(asked.fileName, "ccd-video-line.csv");
    EXPECT_EQ(asked.filter, "*.csv");
    EXPECT_EQ(asked.buttonLabel, VAL_SAVE_BUTTON);
}

TEST_F(Export, StripChartHistoryAsCsv) {
    // The program hands the chart its whole history each time: the file holds that history.
    const double first[6] = {1, 2, 3, 4, 5, 6};
    const double second[6] = {3, 4, 5, 6, 7.25, -8};
    PlotStripChart(h, STRIP, first, 6, 0, 0, VAL_DOUBLE);
    PlotStripChart(h, STRIP, second, 6, 0, 0, VAL_DOUBLE);
    const std::string path = Path("history.csv");
    ASSERT_EQ(Save(STRIP, EXPORT_CSV, path), 1);
    EXPECT_EQ(Read(path), QByteArray("sample,upper,lower\n1,3,4\n2,5,6\n3,7.25,-8\n"));

    // Fed one sample at a time, it holds what it shows: the newest points per screen.
    for (double v = 10; v < 17; ++v) {
        const double sample[2] = {v, -v};
        PlotStripChart(h, STRIP, sample, 2, 0, 0, VAL_DOUBLE);
    }
    ASSERT_EQ(Save(STRIP, EXPORT_CSV, path), 1);
    EXPECT_EQ(Read(path),
              QByteArray("sample,upper,lower\n1,12,-12\n2,13,-13\n3,14,-14\n4,15,-15\n5,16,-16\n"));
}

TEST_F(Export, CancelWritesNothingAndFailuresSaySoAndKeepTheOldFile) {
    PlotVideoLine();
    const std::string path = Path("kept.csv");
    PresetFileSelectAnswer(VAL_NO_FILE_SELECTED, "");
    EXPECT_EQ(UserExportGraph(h, VIDEO, EXPORT_CSV), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    EXPECT_TRUE(g_reports.empty());

    // No data: the old file of that name stays as it was.
    {
        QFile old(QString::fromStdString(path));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\n");
    }
    EXPECT_LT(Save(STRIP, EXPORT_CSV, path), 0);
    EXPECT_EQ(Read(path), QByteArray("old\n"));
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports.back(), "Cannot save " + path + ": the history is empty");
    DeleteGraphPlot(h, VIDEO, -1, VAL_IMMEDIATE_DRAW);
    EXPECT_LT(Save(VIDEO, EXPORT_CSV, path), 0);
    EXPECT_EQ(g_reports.back(), "Cannot save " + path + ": nothing is plotted");
    EXPECT_EQ(Read(path), QByteArray("old\n"));

    // A folder that does not exist.
    PlotVideoLine();
    for (int format : {EXPORT_PNG, EXPORT_CSV}) {
        const std::string nowhere = Path("no/such/folder/x.png");
        EXPECT_LT(Save(VIDEO, format, nowhere), 0);
        EXPECT_EQ(g_reports.back().rfind("Cannot save " + nowhere + ": ", 0), 0u) << g_reports.back();
    }
    // A graph without data columns offers no CSV.
    EXPECT_EQ(UserExportGraph(h, PLAIN, EXPORT_CSV), UIEBadValue);
    EXPECT_EQ(UserExportGraph(h, 99, EXPORT_PNG), UIEInvalidControl);
}

TEST_F(Export, ContextMenusOfferWhatEachGraphCanSave) {
    const std::vector<std::string> pictures{"Save picture as PNG...", "Save picture as PDF...",
                                            "Save picture as SVG..."};
    std::vector<std::string> video = pictures, strip = pictures;
    video.push_back("Save line as CSV...");
    video.push_back("Reset zoom");
    strip.push_back("Save history as CSV...");
    EXPECT_EQ(GraphMenuEntries(h, VIDEO), video);
    EXPECT_EQ(GraphMenuEntries(h, PLAIN), pictures);
    EXPECT_EQ(GraphMenuEntries(h, STRIP), strip);
}

// --- zoom -----------------------------------------------------------------------------------------

void Wheel(QWidget *w, QPoint at, int steps) {
    QWheelEvent e(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &e);
}

void Mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void Drag(QWidget *w, QPoint from, QPoint to) {
    Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

TEST_F(Export, VideoGraphZoomsPansAndResetsToWhatTheProgramAsked) {
    PlotVideoLine();
    QCustomPlot *plot = Plot(VIDEO);
    ASSERT_TRUE(PollUntil([&] { return plot->isVisible() && plot->axisRect()->width() > 100; }, 2.0));
    plot->replot(); // lays the axis rectangle out
    const QPoint centre = plot->axisRect()->rect().center();

    Wheel(plot, centre, 3);
    EXPECT_TRUE(GraphZoomed(h, VIDEO));
    const QCPRange zoomedX = plot->xAxis->range(), zoomedY = plot->yAxis->range();
    EXPECT_LT(zoomedX.size(), 4095.0 * 0.8);
    EXPECT_LT(zoomedY.size(), 1024.0 * 0.8);
    EXPECT_GT(zoomedX.lower, 1.0);

    // The program sets its axes on every pass; the operator's view stays, the program reads back
    // its own range.
    EXPECT_EQ(SetAxisScalingMode(h, VIDEO, VAL_XAXIS, VAL_MANUAL, 1.0, 2048.0), 0);
    EXPECT_EQ(plot->xAxis->range(), zoomedX);
    double lo = 0, hi = 0;
    int mode = -1;
    GetAxisScalingMode(h, VIDEO, VAL_XAXIS, &mode, &lo, &hi);
    EXPECT_EQ(mode, VAL_MANUAL);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 2048.0);

    // Dragging to the right shows what lies to the left; the width stays.
    Drag(plot, centre, centre + QPoint(100, 0));
    EXPECT_LT(plot->xAxis->range().lower, zoomedX.lower);
    EXPECT_NEAR(plot->xAxis->range().size(), zoomedX.size(), 1e-6 * zoomedX.size());

    // A double click: back to what the program asked for last.
    Mouse(plot, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    Mouse(plot, QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(GraphZoomed(h, VIDEO));
    EXPECT_EQ(plot->xAxis->range(), QCPRange(1.0, 2048.0));
    EXPECT_EQ(plot->yAxis->range(), QCPRange(0.0, 1024.0));
    // And the program's ranges apply again at once.
    SetAxisScalingMode(h, VIDEO, VAL_XAXIS, VAL_MANUAL, 1.0, 4096.0);
    EXPECT_EQ(plot->xAxis->range(), QCPRange(1.0, 4096.0));

    // Graphs without zoom in the panel file keep their axes under the wheel and the mouse.
    QCustomPlot *plain = Plot(PLAIN);
    const QCPRange before = plain->xAxis->range();
    const QPoint middle = plain->rect().center();
    Wheel(plain, middle, 3);
    Drag(plain, middle, middle + QPoint(60, 0));
    EXPECT_EQ(plain->xAxis->range(), before);
    EXPECT_FALSE(GraphZoomed(h, PLAIN));
}

} // namespace

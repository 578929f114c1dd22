#include "recorder_window.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "qcustomplot.h"
#include "recorder.h"
#include "utility.h"

namespace {

const char *const kStatNames[] = {"n",     "min",   "max", "mean", "stddev",
                                  "range", "intol", "cp",  "cpk",  "window"};
const char *const kStatLabels[] = {"n",     "Minimum",      "Maximum", "Mean", "Std. deviation (n-1)",
                                   "Range", "In tolerance", "Cp",      "Cpk",  "Tolerance window"};

int64_t WallNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

QString Mm(double v) {
    return QString::number(v, 'f', 3) + " mm";
}

QString Duration(double seconds) {
    const qint64 s = static_cast<qint64>(seconds);
    return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
}

} // namespace

RecorderWindow::RecorderWindow(Recorder &recorder, QWidget *parent) : QWidget(parent), recorder_(recorder) {
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 10, 12, 10);
    outer->setSpacing(8);

    // The file and the commands across the top.
    auto *fileRow = new QHBoxLayout;
    folder_ = new QLineEdit(DefaultFolder(), this);
    folder_->setObjectName("folder");
    name_ = new QLineEdit(DefaultName(), this);
    name_->setObjectName("name");
    choose_ = new QPushButton(tr("Choose..."), this);
    newFile_ = new QPushButton(tr("New file"), this);
    newFile_->setObjectName("newfile");
    newFile_->setToolTip(tr("A new name with the present date and time; a running recording goes on in it"));
    fileRow->addWidget(new QLabel(tr("Folder"), this));
    fileRow->addWidget(folder_, 3);
    fileRow->addWidget(new QLabel(tr("File"), this));
    fileRow->addWidget(name_, 2);
    fileRow->addWidget(choose_);
    fileRow->addWidget(newFile_);
    outer->addLayout(fileRow);

    auto *commandRow = new QHBoxLayout;
    start_ = new QPushButton(tr("Start recording"), this);
    start_->setObjectName("start");
    stop_ = new QPushButton(tr("Stop recording"), this);
    stop_->setObjectName("stop");
    start_->setMinimumWidth(140);
    stop_->setMinimumWidth(140);
    state_ = new QLabel(this);
    state_->setObjectName("state");
    commandRow->addWidget(start_);
    commandRow->addWidget(stop_);
    commandRow->addSpacing(12);
    commandRow->addWidget(state_, 1);
    outer->addLayout(commandRow);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    outer->addLayout(top, 1);

    // Left: the counters and the statistics.
    auto *left = new QVBoxLayout;
    top->addLayout(left, 0);

    auto *countBox = new QGroupBox(tr("Recording"), this);
    auto *countForm = new QFormLayout(countBox);
    rows_ = new QLabel("0", countBox);
    rows_->setObjectName("rows");
    duration_ = new QLabel("0:00:00", countBox);
    duration_->setObjectName("duration");
    rate_ = new QLabel("0 rows/s", countBox);
    rate_->setObjectName("rate");
    countForm->addRow(tr("Rows"), rows_);
    countForm->addRow(tr("Duration"), duration_);
    countForm->addRow(tr("Rate"), rate_);
    left->addWidget(countBox);

    auto *statBox = new QGroupBox(tr("Statistics of the value"), this);
    statsBox_ = statBox;
    statBox->setMinimumWidth(300);
    auto *statForm = new QFormLayout(statBox);
    for (size_t i = 0; i < sizeof kStatNames / sizeof kStatNames[0]; ++i) {
        auto *value = new QLabel("-", statBox);
        value->setObjectName(kStatNames[i]);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        statForm->addRow(tr(kStatLabels[i]), value);
    }
    left->addWidget(statBox);
    left->addStretch(1);

    message_ = new QLabel(this);
    message_->setObjectName("message");
    message_->setTextFormat(Qt::PlainText); // it names files: a '<' in a name is no markup
    message_->setWordWrap(true);

    // Right: the trend of the whole recording and the histogram.
    auto *right = new QVBoxLayout;
    top->addLayout(right, 1);
    const QPen limitPen(QColor(200, 30, 30), 1.5, Qt::DashLine);

    trend_ = new QCustomPlot(this);
    trend_->setObjectName("trend");
    trend_->plotLayout()->insertRow(0);
    trend_->plotLayout()->addElement(
        0, 0, new QCPTextElement(trend_, tr("Trend of the whole recording (min/max)")));
    trendMin_ = trend_->addGraph();
    trendMax_ = trend_->addGraph();
    const QColor blue(30, 90, 180);
    trendMin_->setPen(QPen(blue));
    trendMax_->setPen(QPen(blue));
    trendMax_->setBrush(QColor(30, 90, 180, 90));
    trendMax_->setChannelFillGraph(trendMin_);
    trendLower_ = trend_->addGraph();
    trendUpper_ = trend_->addGraph();
    trendLower_->setPen(limitPen);
    trendUpper_->setPen(limitPen);
    QSharedPointer<QCPAxisTickerTime> timeTicker(new QCPAxisTickerTime);
    timeTicker->setTimeFormat("%h:%m:%s");
    trend_->xAxis->setTicker(timeTicker);
    trend_->xAxis->setLabel(tr("time since start (h:mm:ss)"));
    trend_->yAxis->setLabel(tr("value (mm)"));
    right->addWidget(trend_, 3);

    hist_ = new QCustomPlot(this);
    hist_->setObjectName("histogram");
    hist_->plotLayout()->insertRow(0);
    hist_->plotLayout()->addElement(0, 0,
                                    new QCPTextElement(hist_, tr("Histogram with the tolerance limits")));
    bars_ = new QCPBars(hist_->xAxis, hist_->yAxis);
    bars_->setPen(QPen(blue.darker(130)));
    bars_->setBrush(QColor(30, 90, 180, 160));
    histLower_ = new QCPItemStraightLine(hist_);
    histUpper_ = new QCPItemStraightLine(hist_);
    for (QCPItemStraightLine *l : {histLower_, histUpper_}) {
        l->setPen(limitPen);
        l->setVisible(false);
    }
    hist_->xAxis->setLabel(tr("value (mm)"));
    hist_->yAxis->setLabel(tr("rows"));
    right->addWidget(hist_, 2);
    outer->addWidget(message_);

    connect(start_, &QPushButton::clicked, this, [this] { StartRecording(); });
    connect(stop_, &QPushButton::clicked, this, [this] { StopRecording(); });
    connect(newFile_, &QPushButton::clicked, this, [this] { NewFile(); });
    connect(choose_, &QPushButton::clicked, this, [this] { ChooseFile(); });
    recorder_.OnFailure([this](const std::string &text) { Failed(text); });

    tick_.setInterval(250);
    connect(&tick_, &QTimer::timeout, this, [this] { Refresh(); });
    tick_.start();
    Refresh();
}

RecorderWindow::~RecorderWindow() {
    recorder_.OnFailure(nullptr);
}

QString RecorderWindow::DefaultFolder() {
    return QDir(QDir::homePath()).filePath("kvor-records");
}

QString RecorderWindow::DefaultName() {
    return "kvor-" + QDateTime::currentDateTime().toString("yyyy-MM-dd_HH-mm-ss") + ".csv";
}

QString RecorderWindow::FilePath() const {
    const QString folder = folder_->text().trimmed();
    const QString name = name_->text().trimmed();
    if (name.isEmpty()) return QString();
    if (QFileInfo(name).isAbsolute() || folder.isEmpty()) return name;
    return QDir(folder).filePath(name);
}

void RecorderWindow::SetFilePath(const QString &path) {
    const QFileInfo info(path);
    folder_->setText(info.absolutePath());
    name_->setText(info.fileName());
}

QString RecorderWindow::Message() const {
    return message_->text();
}

QString RecorderWindow::StatText(const char *name) const {
    const QLabel *l = statsBox_->findChild<QLabel *>(name);
    return l ? l->text() : QString();
}

void RecorderWindow::ShowMessage(const QString &text, bool failure) {
    message_->setStyleSheet(failure ? "color: #b00000; font-weight: bold;" : QString());
    message_->setText(text);
}

bool RecorderWindow::StartRecording() {
    const QString path = FilePath();
    std::string error;
    if (path.isEmpty()) {
        error = "Cannot record: no file name.";
    } else {
        recorder_.Start(path.toStdString(), CollectRecordFacts(), Timer(), WallNowMs(), &error);
    }
    if (!recorder_.Recording()) {
        Failed(error);
        return false;
    }
    ShowMessage(tr("Recording into %1").arg(path), false);
    rateRows_ = 0;
    rateSeconds_ = Timer();
    rateValue_ = 0.0;
    plottedRows_ = ~uint64_t(0);
    Refresh();
    return true;
}

void RecorderWindow::StopRecording() {
    if (!recorder_.Recording()) return;
    const QString path = QString::fromStdString(recorder_.Path());
    if (!recorder_.Stop()) return; // rows were lost: the failure is shown already
    ShowMessage(tr("Recording stopped: %1 rows in %2").arg(recorder_.RowsWritten()).arg(path), false);
    Refresh();
}

void RecorderWindow::NewFile() {
    // A recording whose last rows could not be written ends there, with its failure shown; it
    // does not go on in the new file as if nothing was lost.
    const bool wasRecording = recorder_.Recording();
    const bool stoppedWhole = !wasRecording || recorder_.Stop();
    QString name = DefaultName();
    // Two new files within a second get different names.
    const QString folder = folder_->text().trimmed();
    for (int i = 2; QFileInfo::exists(QDir(folder).filePath(name)) || name == name_->text(); ++i)
        name = DefaultName().replace(".csv", QString("-%1.csv").arg(i));
    name_->setText(name);
    if (!stoppedWhole) return;
    if (wasRecording) {
        StartRecording();
    } else {
        ShowMessage(tr("The next recording goes into %1").arg(FilePath()), false);
    }
}

void RecorderWindow::ChooseFile() {
    std::string chosen;
    QDir().mkpath(folder_->text());
    const int r =
        FileSelectPopup(folder_->text().toLocal8Bit().constData(), name_->text().toLocal8Bit().constData(),
                        "*.csv", "Recording file", VAL_SAVE_BUTTON, 0, 1, 1, 1, &chosen);
    if (r > 0 && !chosen.empty()) SetFilePath(QString::fromLocal8Bit(chosen.c_str()));
}

void RecorderWindow::Failed(const std::string &text) {
    ShowMessage(QString::fromStdString(text), true);
    if (statusLine_) statusLine_(text);
    Refresh();
}

void RecorderWindow::Refresh() {
    std::string error;
    if (recorder_.Poll(&error)) {
        Failed(error);
        return;
    }
    UpdateButtons();
    UpdateNumbers();
    // The counters four times a second, the plots of the whole recording once a second.
    if (isVisible() && ++ticks_ % 4 == 1) UpdatePlots();
}

void RecorderWindow::UpdateButtons() {
    const bool on = recorder_.Recording();
    start_->setEnabled(!on);
    stop_->setEnabled(on);
    choose_->setEnabled(!on);
    folder_->setReadOnly(on);
    name_->setReadOnly(on);
    state_->setText(on ? tr("<b>Recording</b> every RUN answer into %1")
                             .arg(QString::fromStdString(recorder_.Path()).toHtmlEscaped())
                       : tr("Not recording"));
}

void RecorderWindow::UpdateNumbers() {
    const RunningStats &s = recorder_.Stats();
    rows_->setText(QString::number(s.n));
    duration_->setText(Duration(recorder_.Seconds()));
    const double now = Timer();
    if (recorder_.Recording() && now - rateSeconds_ >= 1.0) {
        rateValue_ = static_cast<double>(s.n - std::min(s.n, rateRows_)) / (now - rateSeconds_);
        rateRows_ = s.n;
        rateSeconds_ = now;
    } else if (!recorder_.Recording()) {
        rateValue_ = 0.0;
    }
    rate_->setText(QString::number(rateValue_, 'f', 0) + " rows/s");

    auto set = [this](const char *name, const QString &text) {
        if (QLabel *l = statsBox_->findChild<QLabel *>(name)) l->setText(text);
    };
    const ToleranceWindow w = recorder_.Window();
    const Capability c = CapabilityOf(s, w);
    set("n", QString::number(s.n));
    set("min", s.n ? Mm(s.min) : "-");
    set("max", s.n ? Mm(s.max) : "-");
    set("mean", s.n ? QString::number(s.mean, 'f', 4) + " mm" : "-");
    set("stddev", s.n > 1 ? QString::number(s.StdDev(), 'f', 4) + " mm" : "-");
    set("range", s.n ? Mm(s.Range()) : "-");
    set("intol", s.n ? QString::number(100.0 * s.ToleranceShare(), 'f', 1) + " %" : "-");
    set("cp", c.valid ? QString::number(c.cp, 'f', 2) : "-");
    set("cpk", c.valid ? QString::number(c.cpk, 'f', 2) : "-");
    set("window", w.valid ? Mm(w.lower) + " .. " + Mm(w.upper) : "-");
}

void RecorderWindow::UpdatePlots(bool immediate) {
    const RunningStats &s = recorder_.Stats();
    if (s.n == plottedRows_ && !immediate) return;
    plottedRows_ = s.n;
    const ToleranceWindow w = recorder_.Window();

    // Trend: min and max per pixel column of the plot's width.
    const auto columns =
        recorder_.Trend().Columns(static_cast<size_t>(std::max(50, trend_->axisRect()->width())));
    QVector<double> t, lo, hi;
    t.reserve(static_cast<int>(columns.size()));
    lo.reserve(t.capacity());
    hi.reserve(t.capacity());
    for (const auto &c : columns) {
        t.push_back(c.t);
        lo.push_back(c.min);
        hi.push_back(c.max);
    }
    trendMin_->setData(t, lo, true);
    trendMax_->setData(t, hi, true);
    double t0 = 0.0, t1 = 1.0;
    if (!columns.empty()) {
        t0 = recorder_.Trend().Buckets().front().tFirst;
        t1 = std::max(t0 + 1.0, recorder_.Trend().Buckets().back().tLast);
    }
    double y0 = s.n ? s.min : 0.0, y1 = s.n ? s.max : 1.0;
    if (w.valid) {
        trendLower_->setData(QVector<double>{t0, t1}, QVector<double>{w.lower, w.lower}, true);
        trendUpper_->setData(QVector<double>{t0, t1}, QVector<double>{w.upper, w.upper}, true);
        y0 = std::min(y0, w.lower);
        y1 = std::max(y1, w.upper);
    } else {
        trendLower_->data()->clear();
        trendUpper_->data()->clear();
    }
    const double margin = std::max((y1 - y0) * 0.08, 0.001);
    trend_->xAxis->setRange(t0, t1);
    trend_->yAxis->setRange(y0 - margin, y1 + margin);
    trend_->replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);

    // Histogram: the bins that hold values, and the limits.
    const ValueHistogram &h = recorder_.Histogram();
    QVector<double> x, count;
    double x0 = y0, x1 = y1, top = 1.0;
    if (h.Total() > 0) {
        // At most about 60 bars: neighbouring bins are drawn together when more are used.
        const int used = h.LastUsed() - h.FirstUsed() + 1;
        const int group = (used + 59) / 60;
        const double width = group * (h.Width() / 1000.0);
        for (int i = h.FirstUsed(); i <= h.LastUsed(); i += group) {
            double n = 0;
            for (int k = i; k < i + group && k <= h.LastUsed(); ++k)
                n += static_cast<double>(h.Counts()[static_cast<size_t>(k)]);
            const double start =
                static_cast<double>(h.Base() + static_cast<uint64_t>(i)) * (h.Width() / 1000.0);
            x.push_back(start + width / 2);
            count.push_back(n);
            top = std::max(top, n);
        }
        bars_->setWidth(width);
        x0 = std::min(x0, x.front() - width);
        x1 = std::max(x1, x.back() + width);
    }
    bars_->setData(x, count, true);
    for (auto [line, at] : {std::make_pair(histLower_, w.lower), std::make_pair(histUpper_, w.upper)}) {
        line->setVisible(w.valid);
        line->point1->setCoords(at, 0.0);
        line->point2->setCoords(at, 1.0);
    }
    const double xm = std::max((x1 - x0) * 0.05, 0.001);
    hist_->xAxis->setRange(x0 - xm, x1 + xm);
    hist_->yAxis->setRange(0.0, top * 1.1);
    hist_->replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
}

// The recorder window's contents: the file, start and stop, live counters, the statistics, the
// trend of the whole recording and the histogram. Built inside the POPUP panel's window.
#pragma once

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

class QCPBars;
class QCPGraph;
class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QPushButton;
class Recorder;

class RecorderWindow : public QWidget {
    Q_OBJECT
  public:
    RecorderWindow(Recorder &recorder, QWidget *parent);
    ~RecorderWindow() override;

    // Where failures go besides the window (the main window's status line).
    void SetStatusLine(std::function<void(const std::string &)> show) { statusLine_ = std::move(show); }

    // The file the next Start records into.
    QString FilePath() const;
    void SetFilePath(const QString &path);
    // The default: kvor-records in the home folder, a name with the date and time.
    static QString DefaultFolder();
    static QString DefaultName();

    // The operator's commands (the buttons call them; so can the program).
    bool StartRecording();
    void StopRecording();
    void NewFile();
    void ChooseFile();

    // Shows a recording that started elsewhere (the command line) and refreshes everything.
    void Refresh();
    QString Message() const;
    QCustomPlot *TrendPlot() const { return trend_; }
    QCustomPlot *HistogramPlot() const { return hist_; }
    QString StatText(const char *name) const;
    // Redraws the trend and the histogram from the recording's summaries (at the next event
    // pass, or at once).
    void UpdatePlots(bool immediate = false);

  private:
    void ShowMessage(const QString &text, bool failure);
    void Failed(const std::string &text);
    void UpdateButtons();
    void UpdateNumbers();

    Recorder &recorder_;
    std::function<void(const std::string &)> statusLine_;
    QLineEdit *folder_ = nullptr;
    QLineEdit *name_ = nullptr;
    QPushButton *choose_ = nullptr, *start_ = nullptr, *stop_ = nullptr, *newFile_ = nullptr;
    QLabel *state_ = nullptr, *message_ = nullptr;
    QLabel *rows_ = nullptr, *duration_ = nullptr, *rate_ = nullptr;
    QWidget *statsBox_ = nullptr;
    QCustomPlot *trend_ = nullptr, *hist_ = nullptr;
    QCPGraph *trendMax_ = nullptr, *trendMin_ = nullptr, *trendLower_ = nullptr, *trendUpper_ = nullptr;
    QCPBars *bars_ = nullptr;
    QCPItemStraightLine *histLower_ = nullptr, *histUpper_ = nullptr;
    QTimer tick_;
    uint64_t plottedRows_ = ~uint64_t(0);
    unsigned ticks_ = 0;
    uint64_t rateRows_ = 0;
    double rateSeconds_ = 0.0;
    double rateValue_ = 0.0;
};

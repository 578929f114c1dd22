// The recorder: a listener on the measurement feed that turns every raw-data answer of RUN into
// one row of a CSV file, and keeps the statistics, the trend and the histogram of the recording.
//
// It runs on the user-interface thread and returns quickly from every answer: it formats the row
// and hands it to the writer thread. A failed write stops the recording at the next answer or
// the next Poll(), and the failure text goes to whoever set OnFailure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "csv_writer.h"
#include "facts.h"
#include "feed.h"
#include "stats.h"
#include "summary.h"

class Recorder : public MeasurementListener {
  public:
    Recorder() = default;
    ~Recorder() override;

    // Starts a recording into 'path' (appending when it is one of ours). 'now' is the monotonic
    // clock (Timer()) and 'wallMs' the wall clock at the start. False with a text when refused.
    bool Start(const std::string &path, const RecordFacts &facts, double now, int64_t wallMs,
               std::string *error);
    // Ends the recording: what is queued is written and flushed, the file is closed. False when
    // a write failed and rows were lost; the text then goes to OnFailure, as during recording.
    bool Stop();
    bool Recording() const { return recording_; }
    const std::string &Path() const { return writer_.Path(); }

    // Stops the recording when the writer has failed; true (once) with the text then.
    bool Poll(std::string *error);
    void OnFailure(std::function<void(const std::string &)> call) { onFailure_ = std::move(call); }

    void OnRawAnswer(const RawAnswer &answer) override;

    // The recording so far (kept after Stop until the next Start).
    uint64_t Rows() const { return stats_.n; }
    uint64_t RowsWritten() const { return writer_.RowsWritten(); }
    double Seconds() const { return lastSeconds_; }
    const RunningStats &Stats() const { return stats_; }
    const TrendSummary &Trend() const { return trend_; }
    const ValueHistogram &Histogram() const { return histogram_; }
    // The tolerance window of the last answer (the statistics are taken against it).
    ToleranceWindow Window() const;

  private:
    void Fail(const std::string &text);
    // Ends the recording; the writer's failure text in 'failure', empty when none.
    void End(std::string *failure);

    CsvWriter writer_;
    bool recording_ = false;
    double startMonotonic_ = 0.0;
    double lastSeconds_ = 0.0;
    int32_t offsetUm_ = 0;
    bool haveWindow_ = false;
    uint16_t setpointPx_ = 0, tolerancePx_ = 0;
    uint32_t scale_ = 16384;
    RunningStats stats_;
    TrendSummary trend_;
    ValueHistogram histogram_;
    std::function<void(const std::string &)> onFailure_;
};

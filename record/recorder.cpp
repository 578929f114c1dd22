#include "recorder.h"

#include "csv.h"

Recorder::~Recorder() {
    onFailure_ = nullptr; // whoever listened may be gone by now
    Stop();
}

bool Recorder::Start(const std::string &path, const RecordFacts &facts, double now, int64_t wallMs,
                     std::string *error) {
    Stop();
    if (!writer_.Open(path, RecordCommentLines(facts, wallMs), error)) return false;
    recording_ = true;
    startMonotonic_ = now;
    lastSeconds_ = 0.0;
    offsetUm_ = facts.offset;
    scale_ = facts.scale;
    haveWindow_ = false;
    stats_.Clear();
    trend_.Clear();
    histogram_.Clear();
    AddMeasurementListener(this);
    return true;
}

void Recorder::End(std::string *failure) {
    RemoveMeasurementListener(this);
    recording_ = false;
    writer_.Close(); // the last rows are written here, and may fail here
    failure->clear();
    if (writer_.Failed()) *failure = writer_.Error();
}

bool Recorder::Stop() {
    if (!recording_) return true;
    std::string text;
    End(&text);
    if (text.empty()) return true;
    Fail(text);
    return false;
}

bool Recorder::Poll(std::string *error) {
    if (!recording_ || !writer_.Failed()) return false;
    End(error);
    return true;
}

void Recorder::Fail(const std::string &text) {
    if (onFailure_) onFailure_(text);
}

void Recorder::OnRawAnswer(const RawAnswer &a) {
    if (!recording_ || a.video) return;
    if (writer_.Failed()) {
        std::string text;
        if (Poll(&text)) Fail(text);
        return;
    }
    const double seconds = a.monotonic - startMonotonic_;
    char row[kMaxRowLength];
    const size_t n = FormatRecordRow(a, seconds, row);
    writer_.Push(row, n);

    lastSeconds_ = seconds;
    setpointPx_ = a.setpointPx;
    tolerancePx_ = a.tolerancePx;
    scale_ = a.scale;
    haveWindow_ = true;
    const double mm = a.umValue / 1000.0;
    stats_.Add(mm, a.inTolerance);
    trend_.Add(seconds, mm);
    histogram_.Add(a.umValue);
}

ToleranceWindow Recorder::Window() const {
    if (!haveWindow_) return ToleranceWindow();
    return WindowInMm(setpointPx_, tolerancePx_, scale_, offsetUm_);
}

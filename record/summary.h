// Bounded summaries of a whole recording, for the trend plot and the histogram. The rows live in
// the file; memory holds a fixed number of buckets however long the recording runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The trend: the values in order, in buckets of 'span' values each (the last one may hold fewer).
// When all buckets are used, neighbours merge pairwise and the span doubles.
class TrendSummary {
  public:
    struct Bucket {
        double tFirst, tLast; // seconds of the first and last value
        double min, max;
    };
    explicit TrendSummary(size_t capacity = 4096);
    void Add(double t, double value);
    void Clear();
    const std::vector<Bucket> &Buckets() const { return buckets_; }
    uint64_t Span() const { return span_; }
    uint64_t Count() const { return count_; }

    // min/max per column: 'columns' columns evenly over [t0, t1]; a column without values has
    // min > max. Each bucket goes into the column of its first value.
    struct Column {
        double t, min, max;
    };
    std::vector<Column> Columns(size_t columns) const;

  private:
    size_t capacity_;
    uint64_t span_ = 1;
    uint64_t inLast_ = 0; // values in the last bucket
    uint64_t count_ = 0;
    std::vector<Bucket> buckets_;
};

// The histogram: a fixed number of bins over whole micrometres. The bins start 1 um wide; a value
// outside them widens every bin to twice its width (neighbours merge) until all values fit.
class ValueHistogram {
  public:
    static constexpr int kBins = 256;
    void Add(uint32_t um);
    void Clear() { *this = ValueHistogram(); }
    uint64_t Total() const { return total_; }
    uint32_t Width() const { return width_; } // micrometres per bin
    // Bin i covers [(Base() + i) x Width(), (Base() + i + 1) x Width()) micrometres.
    uint64_t Base() const { return base_; }
    const std::vector<uint64_t> &Counts() const { return counts_; }
    // The bins that hold values: first and last index into Counts().
    int FirstUsed() const { return static_cast<int>(lo_ - base_); }
    int LastUsed() const { return static_cast<int>(hi_ - base_); }

  private:
    void Rebase(uint64_t g); // makes lo_..hi_ and g fit kBins bins
    uint32_t width_ = 1;
    uint64_t base_ = 0, lo_ = 0, hi_ = 0; // bin numbers counted from 0 um
    uint64_t total_ = 0;
    std::vector<uint64_t> counts_;
};

#include "summary.h"

#include <algorithm>

TrendSummary::TrendSummary(size_t capacity) : capacity_(std::max<size_t>(capacity & ~size_t(1), 2)) {
    buckets_.reserve(capacity_);
}

void TrendSummary::Clear() {
    buckets_.clear();
    span_ = 1;
    inLast_ = 0;
    count_ = 0;
}

void TrendSummary::Add(double t, double value) {
    ++count_;
    if (!buckets_.empty() && inLast_ < span_) {
        Bucket &b = buckets_.back();
        b.tLast = t;
        b.min = std::min(b.min, value);
        b.max = std::max(b.max, value);
        ++inLast_;
        return;
    }
    if (buckets_.size() == capacity_) {
        // All full: merge neighbours; every bucket is whole, so the merged ones are too.
        for (size_t i = 0; i < capacity_ / 2; ++i) {
            const Bucket &a = buckets_[2 * i];
            const Bucket &b = buckets_[2 * i + 1];
            buckets_[i] = Bucket{a.tFirst, b.tLast, std::min(a.min, b.min), std::max(a.max, b.max)};
        }
        buckets_.resize(capacity_ / 2);
        span_ *= 2;
    }
    buckets_.push_back(Bucket{t, t, value, value});
    inLast_ = 1;
}

std::vector<TrendSummary::Column> TrendSummary::Columns(size_t columns) const {
    std::vector<Column> out;
    if (buckets_.empty() || columns == 0) return out;
    const double t0 = buckets_.front().tFirst;
    const double t1 = buckets_.back().tLast;
    if (buckets_.size() <= columns || !(t1 > t0)) {
        for (const Bucket &b : buckets_)
            out.push_back(Column{b.tFirst, b.min, b.max});
        return out;
    }
    const double width = (t1 - t0) / static_cast<double>(columns);
    out.resize(columns);
    for (size_t c = 0; c < columns; ++c)
        out[c] = Column{t0 + width * (static_cast<double>(c) + 0.5), 1.0, -1.0};
    for (const Bucket &b : buckets_) {
        size_t c = static_cast<size_t>((b.tFirst - t0) / width);
        if (c >= columns) c = columns - 1;
        Column &col = out[c];
        if (col.min > col.max) {
            col.min = b.min;
            col.max = b.max;
        } else {
            col.min = std::min(col.min, b.min);
            col.max = std::max(col.max, b.max);
        }
    }
    out.erase(std::remove_if(out.begin(), out.end(), [](const Column &c) { return c.min > c.max; }),
              out.end());
    return out;
}

void ValueHistogram::Add(uint32_t um) {
    if (total_ == 0) {
        width_ = 1;
        counts_.assign(kBins, 0);
        base_ = um >= kBins / 2 ? um - kBins / 2 : 0;
        lo_ = hi_ = um;
    }
    uint64_t g = um / width_;
    if (g < base_ || g >= base_ + kBins) {
        Rebase(g);
        g = um / width_;
    }
    ++counts_[static_cast<size_t>(g - base_)];
    if (total_ > 0) {
        lo_ = std::min(lo_, g);
        hi_ = std::max(hi_, g);
    }
    ++total_;
}

void ValueHistogram::Rebase(uint64_t g) {
    // Widen until the used bins and the new one fit, then centre them.
    uint64_t value = g * width_; // the new value's bin start in micrometres
    uint32_t width = width_;
    uint64_t lo = lo_, hi = hi_, at = g;
    for (;;) {
        const uint64_t first = std::min(lo, at), last = std::max(hi, at);
        if (last - first < static_cast<uint64_t>(kBins)) {
            const uint64_t spare = kBins - 1 - (last - first);
            const uint64_t base = first >= spare / 2 ? first - spare / 2 : 0;
            std::vector<uint64_t> counts(kBins, 0);
            const uint64_t factor = width / width_;
            for (size_t i = 0; i < counts_.size(); ++i) {
                if (!counts_[i]) continue;
                const uint64_t merged = (base_ + i) / factor;
                counts[static_cast<size_t>(merged - base)] += counts_[i];
            }
            counts_.swap(counts);
            width_ = width;
            base_ = base;
            lo_ = lo;
            hi_ = hi;
            return;
        }
        width *= 2;
        lo /= 2;
        hi /= 2;
        at = value / width;
    }
}

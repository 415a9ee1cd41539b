#pragma once
// The samples of a live view: one time per reading round and one value per
// channel, kept for at most a time span (24 hours by default) and dropped
// from the front as new rounds come; memory grows with what is kept, not
// with the span. Drawing reads it decimated: per pixel column the lowest and
// the highest value, in the order they occurred, so a line over many samples
// keeps its peaks with a few points per column.
//
// Not thread-safe: one owner thread (the GUI thread) appends and reads.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace kelm {

inline constexpr std::int64_t kTrendSpanMs = 24LL * 60 * 60 * 1000;

struct TrendPoint {
    std::int64_t t = 0;  // ms
    double v = 0;
};

class TrendStore {
  public:
    explicit TrendStore(std::int64_t spanMs = kTrendSpanMs) : spanMs_(spanMs) {}

    // A new column; rounds already kept have no value (NaN) in it.
    int AddChannel();
    void RemoveChannel(int c);
    int ChannelCount() const { return static_cast<int>(cols_.size()); }

    // One round: values.size() must equal ChannelCount() (missing values are
    // NaN; a shorter span is padded with NaN). A time before the last one is
    // taken as the last one: times never go backwards. Rounds older than the
    // span before t are dropped.
    void Append(std::int64_t tMs, std::span<const double> values);
    void Clear();

    std::size_t Size() const { return times_.size(); }
    std::int64_t Time(std::size_t i) const { return times_[i]; }
    double Value(int c, std::size_t i) const;
    std::int64_t SpanMs() const { return spanMs_; }
    // First index with a time >= t (Size() when none).
    std::size_t LowerBound(std::int64_t t) const;

    // Column c between t0 and t1 (inclusive) reduced for `columns` pixel
    // columns: per column the minimum and maximum in the order they occurred
    // (at most two points),
    // plus the last point before t0 and the first after t1 so that the line
    // runs on to the edges. Missing values are skipped. With `step` the line
    // holds each value until the next one (digital channels).
    std::vector<TrendPoint> Decimate(int c, std::int64_t t0, std::int64_t t1, int columns,
                                     bool step) const;
    // The latest value of column c at or before t, if any.
    std::optional<TrendPoint> ValueAt(int c, std::int64_t t) const;
    // Lowest and highest value of column c between t0 and t1; false when none.
    bool Range(int c, std::int64_t t0, std::int64_t t1, double* lo, double* hi) const;

  private:
    std::int64_t spanMs_;
    std::deque<std::int64_t> times_;
    // float: a tenth of a microvolt on a 10 V range is below what a 24-bit
    // module resolves, and half the memory of double.
    std::vector<std::deque<float>> cols_;
};

}  // namespace kelm

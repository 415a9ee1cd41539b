#include "live/TrendStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelm {

int TrendStore::AddChannel() {
    cols_.emplace_back(times_.size(), std::numeric_limits<float>::quiet_NaN());
    return static_cast<int>(cols_.size()) - 1;
}

void TrendStore::RemoveChannel(int c) {
    if (c < 0 || c >= ChannelCount()) return;
    cols_.erase(cols_.begin() + c);
}

void TrendStore::Append(std::int64_t tMs, std::span<const double> values) {
    if (!times_.empty()) tMs = std::max(tMs, times_.back());
    times_.push_back(tMs);
    for (std::size_t c = 0; c < cols_.size(); ++c)
        cols_[c].push_back(c < values.size() ? static_cast<float>(values[c])
                                             : std::numeric_limits<float>::quiet_NaN());
    const std::int64_t oldest = tMs - spanMs_;
    while (!times_.empty() && times_.front() < oldest) {
        times_.pop_front();
        for (auto& col : cols_) col.pop_front();
    }
}

void TrendStore::Clear() {
    times_.clear();
    for (auto& col : cols_) col.clear();
}

double TrendStore::Value(int c, std::size_t i) const {
    if (c < 0 || c >= ChannelCount() || i >= times_.size())
        return std::numeric_limits<double>::quiet_NaN();
    return cols_[static_cast<std::size_t>(c)][i];
}

std::size_t TrendStore::LowerBound(std::int64_t t) const {
    return static_cast<std::size_t>(std::lower_bound(times_.begin(), times_.end(), t) -
                                    times_.begin());
}

std::vector<TrendPoint> TrendStore::Decimate(int c, std::int64_t t0, std::int64_t t1, int columns,
                                             bool step) const {
    std::vector<TrendPoint> out;
    if (c < 0 || c >= ChannelCount() || times_.empty() || t1 < t0 || columns < 1) return out;
    const auto& col = cols_[static_cast<std::size_t>(c)];
    const std::size_t n = times_.size();
    std::size_t begin = LowerBound(t0);
    std::size_t end = static_cast<std::size_t>(std::upper_bound(times_.begin(), times_.end(), t1) -
                                               times_.begin());
    // One point beyond each edge, so the line reaches the edges of the view.
    auto emit = [&](std::size_t i) {
        const float v = col[i];
        if (std::isnan(v)) return;
        if (step && !out.empty() && out.back().v != static_cast<double>(v))
            out.push_back({times_[i], out.back().v});
        out.push_back({times_[i], static_cast<double>(v)});
    };
    for (std::size_t i = begin; i-- > 0;)
        if (!std::isnan(col[i])) {
            emit(i);
            break;
        }
    const double width = static_cast<double>(t1 - t0 + 1) / columns;
    auto ti = times_.begin() + static_cast<std::ptrdiff_t>(begin);
    auto vi = col.begin() + static_cast<std::ptrdiff_t>(begin);
    std::size_t i = begin;
    while (i < end) {
        const auto bucket = static_cast<std::int64_t>(static_cast<double>(*ti - t0) / width);
        const double bucketEnd = static_cast<double>(t0) + static_cast<double>(bucket + 1) * width;
        std::size_t lo = n, hi = n;
        float lov = 0, hiv = 0;
        // The first sample always belongs to the column it opened.
        do {
            const float v = *vi;
            if (!std::isnan(v)) {
                if (lo == n || v < lov) {
                    lo = i;
                    lov = v;
                }
                if (hi == n || v > hiv) {
                    hi = i;
                    hiv = v;
                }
            }
            ++i;
            ++ti;
            ++vi;
        } while (i < end && static_cast<double>(*ti) < bucketEnd);
        if (lo != n) {
            // The column's extremes, in the order they occurred.
            emit(std::min(lo, hi));
            if (lo != hi) emit(std::max(lo, hi));
        }
    }
    for (std::size_t k = end; k < n; ++k)
        if (!std::isnan(col[k])) {
            emit(k);
            break;
        }
    return out;
}

std::optional<TrendPoint> TrendStore::ValueAt(int c, std::int64_t t) const {
    if (c < 0 || c >= ChannelCount()) return std::nullopt;
    const auto& col = cols_[static_cast<std::size_t>(c)];
    std::size_t i = static_cast<std::size_t>(std::upper_bound(times_.begin(), times_.end(), t) -
                                             times_.begin());
    while (i-- > 0)
        if (!std::isnan(col[i])) return TrendPoint{times_[i], col[i]};
    return std::nullopt;
}

bool TrendStore::Range(int c, std::int64_t t0, std::int64_t t1, double* lo, double* hi) const {
    if (c < 0 || c >= ChannelCount()) return false;
    const auto& col = cols_[static_cast<std::size_t>(c)];
    bool any = false;
    for (std::size_t i = LowerBound(t0); i < times_.size() && times_[i] <= t1; ++i) {
        const float v = col[i];
        if (std::isnan(v)) continue;
        if (!any || v < *lo) *lo = v;
        if (!any || v > *hi) *hi = v;
        any = true;
    }
    return any;
}

}  // namespace kelm

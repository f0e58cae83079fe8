#include "charts/chart_data.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <new>


namespace plotwell {

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

std::int64_t FromLocalFields(std::tm fields) { return std::mktime(&fields); }

std::int32_t ClampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, kInt32Min, kInt32Max));
}

// The local-time fields of a bucket start: truncated below the filter's unit. From
// Daily up the C library decides daylight saving for the truncated time itself, so
// that all hours of a day on which the clocks change share one start.
std::tm TruncatedFields(std::tm fields, FilterType type) {
  fields.tm_sec = 0;
  fields.tm_min = 0;
  if (type != FilterType::Hourly) {
    fields.tm_hour = 0;
    fields.tm_isdst = -1;
  }
  if (type == FilterType::Monthly || type == FilterType::Yearly) fields.tm_mday = 1;
  if (type == FilterType::Yearly) fields.tm_mon = 0;
  return fields;
}

bool SameFields(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
         a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// Bucket starts of a run of samples. The conversion back from local time is the
// costly step, so an hour start is derived from the sample and only checked, and a
// coarser start is reused while the calendar key stays the same.
class BucketStarter {
 public:
  explicit BucketStarter(FilterType type) : type_(type) {}

  std::int64_t operator()(std::int64_t t) {
    const std::tm local = LocalFields(t);
    const std::tm key = TruncatedFields(local, type_);
    if (type_ == FilterType::Hourly) {
      const std::int64_t guess = t - (local.tm_min * 60 + local.tm_sec);
      const std::tm check = LocalFields(guess);
      if (SameFields(check, key) && check.tm_isdst == key.tm_isdst) return guess;
      return FromLocalFields(key);
    }
    if (!hasLast_ || !SameFields(key, lastKey_)) {
      lastKey_ = key;
      lastStart_ = FromLocalFields(key);
      hasLast_ = true;
    }
    return lastStart_;
  }

 private:
  FilterType type_;
  bool hasLast_ = false;
  std::tm lastKey_{};
  std::int64_t lastStart_ = 0;
};

}  // namespace

std::tm LocalFields(std::int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm fields{};
  if (localtime_r(&tt, &fields) == nullptr) throw CSimplEx(E_FAIL);
  return fields;
}

TimeSeriesData::~TimeSeriesData() = default;

void TimeSeriesData::Clear() {
  std::vector<std::int32_t>().swap(bucketIndex_);
  entries_ = 0;
  ZeroExtremes();
}

void TimeSeriesData::BucketSamples(int i, int* first, int* end) const {
  const int n = static_cast<int>(bucketIndex_.size());
  *first = bucketIndex_[i];
  *end = Samples();
  if (i + 1 < n) {
    const std::int32_t next = bucketIndex_[i + 1];
    // A gap -k lies k positions before the next real bucket.
    const std::int64_t real = next >= 0 ? i + 1 : std::int64_t{i} + 1 - next;
    if (real < n && bucketIndex_[real] >= 0) *end = bucketIndex_[real];
  }
}

std::int32_t TimeSeriesData::BucketSum(const std::vector<std::int32_t>& column, int i) const {
  CheckIndex(i);
  if (bucketIndex_[i] < 0) return 0;
  int first = 0;
  int end = 0;
  BucketSamples(i, &first, &end);
  std::int64_t sum = 0;
  for (int s = first; s < end; ++s) sum += column[s];
  return ClampToInt32(sum);
}

std::int32_t TimeSeriesData::CountAt(int i) const { return BucketSum(samples_.Counts(), i); }

std::int32_t TimeSeriesData::ValueAt(int i) const { return BucketSum(samples_.Values(), i); }

std::uint8_t TimeSeriesData::AltAt(int i) const {
  CheckIndex(i);
  if (bucketIndex_[i] < 0) return 0;
  int first = 0;
  int end = 0;
  BucketSamples(i, &first, &end);
  for (int s = first; s < end; ++s) {
    if (!samples_.Alts()[s]) return 0;
  }
  return first < end ? 1 : 0;
}

void TimeSeriesData::SetFilterType(plotwell::FilterType type) {
  filterType_ = type;
  Rebucket();
}

void TimeSeriesData::SetRegularGrid(bool on) {
  regularGrid_ = on;
  Rebucket();
}

std::int64_t TimeSeriesData::BucketStart(std::int64_t t) const {
  return BucketStarter(filterType_)(t);
}

std::int64_t TimeSeriesData::StepBack(std::int64_t t, int buckets) const {
  switch (filterType_) {
    case FilterType::Hourly:
      return t - std::int64_t{buckets} * 3600;
    case FilterType::Daily: {
      std::int64_t r = t - std::int64_t{buckets} * 86400;
      // Days of 23 or 25 hours in between leave the result an hour off midnight.
      const int hour = LocalFields(r).tm_hour;
      if (hour == 1) r -= 3600;
      if (hour == 23) r += 3600;
      return r;
    }
    case FilterType::Monthly: {
      std::tm fields = LocalFields(t);
      fields.tm_mon -= buckets;
      while (fields.tm_mon < 0) {
        fields.tm_mon += 12;
        fields.tm_year -= 1;
      }
      fields.tm_isdst = -1;
      return FromLocalFields(fields);
    }
    case FilterType::Yearly: {
      std::tm fields = LocalFields(t);
      fields.tm_year -= buckets;
      fields.tm_isdst = -1;
      return FromLocalFields(fields);
    }
  }
  throw CSimplEx(E_FAIL);
}

std::int64_t TimeSeriesData::BucketTime(int i) const {
  CheckIndex(i);
  const std::int32_t entry = bucketIndex_[i];
  const int back = entry < 0 ? -entry : 0;
  const std::int64_t j = std::int64_t{i} + back;
  if (j >= static_cast<std::int64_t>(bucketIndex_.size()) || bucketIndex_[j] < 0) {
    throw CSimplEx(E_FAIL);
  }
  const std::int64_t start = BucketStart(times_[bucketIndex_[j]]);
  return back > 0 ? StepBack(start, back) : start;
}

void TimeSeriesData::AppendBucketEntry(std::int32_t entry) {
  if (bucketIndex_.size() == bucketIndex_.capacity()) {
    bucketIndex_.reserve(bucketIndex_.capacity() + kBucketGrowth);
  }
  bucketIndex_.push_back(entry);
}

void TimeSeriesData::AppendGaps(std::int64_t prev, std::int64_t next) {
  std::int64_t k = 0;
  switch (filterType_) {
    case FilterType::Hourly:
      k = (next - prev) / 3600;
      break;
    case FilterType::Daily: {
      std::int64_t d = next - prev;
      if (d % 86400 == 3600) d -= 3600;    // 25-hour day in between
      if (d % 86400 == 82800) d += 3600;   // 23-hour day in between
      k = d / 86400;
      break;
    }
    case FilterType::Monthly: {
      const std::tm a = LocalFields(next);
      const std::tm p = LocalFields(prev);
      k = (std::int64_t{a.tm_year} * 12 + a.tm_mon) - (std::int64_t{p.tm_year} * 12 + p.tm_mon);
      break;
    }
    case FilterType::Yearly:
      k = LocalFields(next).tm_year - LocalFields(prev).tm_year;
      break;
  }
  if (k - 1 > kInt32Max) throw CSimplEx(E_OUTOFMEMORY);
  for (std::int64_t gap = k - 1; gap >= 1; --gap) {
    AppendBucketEntry(static_cast<std::int32_t>(-gap));
  }
}

void TimeSeriesData::Rebucket() {
  entries_ = 0;
  ZeroExtremes();
  try {
    std::vector<std::int32_t> fresh;
    fresh.reserve(times_.size());
    bucketIndex_.swap(fresh);
    BucketStarter bucketStart(filterType_);
    bool hasPrev = false;
    std::int64_t prev = 0;
    const int n = Samples();
    for (int i = 0; i < n; ++i) {
      const std::int64_t a = bucketStart(times_[i]);
      if (hasPrev && a == prev) continue;
      if (hasPrev && regularGrid_) AppendGaps(prev, a);
      if (bucketIndex_.size() >= static_cast<std::size_t>(kInt32Max)) {
        throw CSimplEx(E_OUTOFMEMORY);
      }
      AppendBucketEntry(i);
      prev = a;
      hasPrev = true;
    }
    entries_ = static_cast<int>(bucketIndex_.size());

    std::int32_t maxCount = 0;
    std::int32_t minCount = kInt32Max;
    std::int32_t maxValue = kInt32Min;
    std::int32_t minValue = kInt32Max;
    for (int i = 0; i < entries_; ++i) {
      const std::int32_t count = CountAt(i);
      const std::int32_t value = ValueAt(i);
      maxCount = std::max(maxCount, count);
      minCount = std::min(minCount, count);
      maxValue = std::max(maxValue, value);
      minValue = std::min(minValue, value);
    }
    if (maxCount < minCount) maxCount = minCount = 0;
    if (maxValue < minValue) maxValue = minValue = 0;
    maxCount_ = maxCount;
    minCount_ = minCount;
    maxValue_ = maxValue;
    minValue_ = minValue;
  } catch (const std::bad_alloc&) {
    entries_ = 0;
    ZeroExtremes();
    throw CSimplEx(E_OUTOFMEMORY);
  } catch (const CSimplEx& ex) {
    entries_ = 0;
    ZeroExtremes();
    throw CSimplEx(ex.Result() == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL);
  } catch (...) {
    entries_ = 0;
    ZeroExtremes();
    throw CSimplEx(E_FAIL);
  }
}

std::int32_t TimeSeriesData::SampleTime(int i) const { return times_[samples_.Checked(i)]; }

std::int32_t TimeSeriesData::SampleValue(int i) const { return samples_.Value(i); }

std::int32_t TimeSeriesData::SampleCount(int i) const { return samples_.Count(i); }

std::uint8_t TimeSeriesData::SampleAlt(int i) const { return samples_.Alt(i); }

void TimeSeriesData::BeginLoad(int capacity) {
  Empty();
  const std::size_t n = static_cast<std::size_t>(capacity);
  times_.reserve(n);
  samples_.Reserve(n);
}

void TimeSeriesData::ReadItem(const ItemText& item) {
  if (!item.hasTime) throw CSimplEx(E_CHARTDATA);
  const std::int32_t time = ConvertToInt32(item.time);
  const ItemFields fields = ReadItemFields(item);
  // After all samples of equal time, so equal times keep document order.
  const auto at = !times_.empty() && times_.back() >= time ? std::upper_bound(times_.begin(), times_.end(), time)
                                                           : times_.end();
  const auto pos = static_cast<std::size_t>(at - times_.begin());
  times_.insert(at, time);
  samples_.Insert(pos, fields);
}

void TimeSeriesData::EndLoad() { Rebucket(); }

void TimeSeriesData::Empty() {
  times_.clear();
  samples_.Empty();
  bucketIndex_.clear();
  entries_ = 0;
  ZeroExtremes();
}

}  // namespace plotwell

#pragma once
// The data models behind the two chart controls. Both read the chart data document:
//
//   <VYR_CHART_DATA><ITM TM='0' ALT='1'>17</ITM><ITM TM='86400'>5</ITM></VYR_CHART_DATA>
//   <VYR_CHART_DATA><ITM LBL='Mozilla' CNT='2'>12</ITM></VYR_CHART_DATA>
//
// Element names are compared without regard to case, attribute names exactly. An item's
// value is its first text child (0 without one); CNT defaults to 1 and is stored as 0
// below 1; ALT is true for any non-zero number. Every number must be a decimal 32-bit
// integer or the whole document is rejected.
#include <cstdint>
#include <ctime>
#include <vector>

#include <QString>

#include "charts/chart_document_scanner.h"
#include "charts/chart_error.h"

namespace plotwell {

// Abstract model of one control's entries. Accessors take an entry index
// 0..Entries()-1 and throw CSimplEx(E_INVALIDARG) for any other.
class ChartData {
 public:
  ChartData() = default;
  ChartData(const ChartData&) = delete;
  ChartData& operator=(const ChartData&) = delete;
  virtual ~ChartData();

  // Replaces all data by the content of a chart data document (the caller's text is
  // not referenced after the call). Throws CSimplEx; on failure the model is empty.
  virtual void Load(const QString& document);
  // Frees the arrays holding the entries and sets the entry count and extremes to 0.
  virtual void Clear() = 0;
  virtual std::int32_t CountAt(int i) const = 0;
  virtual std::int32_t ValueAt(int i) const = 0;
  virtual std::uint8_t AltAt(int i) const = 0;

  int Entries() const { return entries_; }
  std::int32_t MaxCount() const { return maxCount_; }
  std::int32_t MinCount() const { return minCount_; }
  std::int32_t MaxValue() const { return maxValue_; }
  std::int32_t MinValue() const { return minValue_; }

  // Load wrapped for callers that work with result codes (the controls' SetData).
  HRESULT TryLoad(const QString& document) noexcept;

 protected:
  // Steps of Load. BeginLoad resets the model and sizes its arrays for capacity
  // items; ReadItem appends one ITM element; EndLoad finishes the entries.
  virtual void BeginLoad(int capacity) = 0;
  virtual void ReadItem(const ItemText& item) = 0;
  virtual void EndLoad() = 0;
  // Leaves no entries and zero extremes; keeps allocated memory for the next load.
  virtual void Empty() = 0;

  void CheckIndex(int i) const;
  void ZeroExtremes();

  int entries_ = 0;
  std::int32_t maxCount_ = 0;
  std::int32_t minCount_ = 0;
  std::int32_t maxValue_ = 0;
  std::int32_t minValue_ = 0;
};

// The fields every item carries, read from one ITM element.
struct ItemFields {
  std::int32_t value = 0;
  std::int32_t count = 1;
  std::uint8_t alt = 0;
};

// Reads value, CNT and ALT of an ITM element (throws CSimplEx on a bad number).
ItemFields ReadItemFields(const ItemText& item);

// The fields of the items (or samples) in order, a column each.
class ItemColumns {
 public:
  std::size_t Size() const { return values_.size(); }
  std::size_t Capacity() const { return values_.capacity(); }
  // Position i; throws CSimplEx(E_INVALIDARG) outside 0..Size()-1, as do the fields.
  std::size_t Checked(int i) const;
  std::int32_t Value(int i) const { return values_[Checked(i)]; }
  std::int32_t Count(int i) const { return counts_[Checked(i)]; }
  std::uint8_t Alt(int i) const { return alts_[Checked(i)]; }
  const std::vector<std::int32_t>& Values() const { return values_; }
  const std::vector<std::int32_t>& Counts() const { return counts_; }
  const std::vector<std::uint8_t>& Alts() const { return alts_; }

  void Reserve(std::size_t n);
  // Puts the fields at position at (0..Size()), the later ones moving up.
  void Insert(std::size_t at, const ItemFields& fields);
  // Empty keeps the memory for the next load, Release frees it.
  void Empty();
  void Release();

 private:
  std::vector<std::int32_t> values_;
  std::vector<std::int32_t> counts_;
  std::vector<std::uint8_t> alts_;
};

// The variant conversion of a text to a 32-bit integer: optional blanks, an optional
// sign and decimal digits. Throws CSimplEx(DISP_E_TYPEMISMATCH) for anything else and
// CSimplEx(DISP_E_OVERFLOW) for a number outside 32 bits.
std::int32_t ConvertToInt32(QStringView text);

// Labelled items of the non-numeric chart, in document order.
class NonNumericData : public ChartData {
 public:
  // A label that does not fit grows the pool by at least this many bytes.
  static constexpr std::size_t kLabelPoolGrowth = 0x4000;

  NonNumericData() = default;
  ~NonNumericData() override;

  void Clear() override;
  std::int32_t CountAt(int i) const override;
  std::int32_t ValueAt(int i) const override;
  std::uint8_t AltAt(int i) const override;

  // The full label of item i as a NUL-terminated UTF-8 string inside the pool.
  const char* LabelAt(int i) const;
  QString LabelTextAt(int i) const { return QString::fromUtf8(LabelAt(i)); }

  std::size_t LabelPoolCapacity() const { return poolCapacity_; }
  std::size_t LabelPoolUsed() const { return poolUsed_; }
  std::size_t ItemCapacity() const { return items_.Capacity(); }

 protected:
  void BeginLoad(int capacity) override;
  void ReadItem(const ItemText& item) override;
  void EndLoad() override;
  void Empty() override;

 private:
  void AppendLabel(const QByteArray& label);

  ItemColumns items_;
  std::vector<std::int32_t> labelOffsets_;
  std::vector<char> pool_;  // pool_.size() is the capacity, grown in steps
  std::size_t poolCapacity_ = 0;
  std::size_t poolUsed_ = 0;
};

// How time samples are grouped into calendar buckets (local time).
enum class FilterType : std::int16_t { Hourly = 0, Daily = 1, Monthly = 2, Yearly = 3 };

constexpr bool IsValidFilterType(int value) { return value >= 0 && value <= 3; }

// The local-time fields of Unix time t; throws CSimplEx(E_FAIL) where the C library has none.
std::tm LocalFields(std::int64_t t);

// Timed samples of the time-series chart. The entries are calendar buckets: each
// BucketIndex entry is either the first sample s >= 0 of a real bucket (which runs to
// the first sample of the next real bucket), or -k for an empty bucket lying k
// buckets before the next real one (only with RegularGrid on).
class TimeSeriesData : public ChartData {
 public:
  static constexpr std::size_t kBucketGrowth = 1024;

  TimeSeriesData() = default;
  ~TimeSeriesData() override;

  void Clear() override;
  std::int32_t CountAt(int i) const override;  // sum of the bucket's counts, 0 for a gap
  std::int32_t ValueAt(int i) const override;  // sum of the bucket's values, 0 for a gap
  std::uint8_t AltAt(int i) const override;    // 1 when every sample of the bucket is

  plotwell::FilterType FilterType() const { return filterType_; }
  bool RegularGrid() const { return regularGrid_; }
  // Store the setting and rebucket the samples; the setting is kept even when the
  // rebucketing throws.
  void SetFilterType(plotwell::FilterType type);
  void SetRegularGrid(bool on);

  // Local-time start of the bucket holding Unix time t.
  std::int64_t BucketStart(std::int64_t t) const;
  // Start time of the bucket at index position i, gaps included.
  std::int64_t BucketTime(int i) const;
  // Rebuilds the bucket index and the extremes from the samples. On failure the
  // entries and extremes are 0 and CSimplEx is thrown.
  void Rebucket();

  int Samples() const { return static_cast<int>(times_.size()); }
  std::int32_t SampleTime(int i) const;
  std::int32_t SampleValue(int i) const;
  std::int32_t SampleCount(int i) const;
  std::uint8_t SampleAlt(int i) const;

  const std::vector<std::int32_t>& BucketIndex() const { return bucketIndex_; }

 protected:
  void BeginLoad(int capacity) override;
  void ReadItem(const ItemText& item) override;
  void EndLoad() override;
  void Empty() override;

 private:
  void AppendBucketEntry(std::int32_t entry);
  void AppendGaps(std::int64_t prev, std::int64_t next);
  // Samples [first, end) of the real bucket at index position i.
  void BucketSamples(int i, int* first, int* end) const;
  // Sum of one sample column over bucket i, 0 for a gap, clamped to 32 bits.
  std::int32_t BucketSum(const std::vector<std::int32_t>& column, int i) const;
  std::int64_t StepBack(std::int64_t t, int buckets) const;

  std::vector<std::int32_t> times_;
  ItemColumns samples_;  // in the order of times_
  std::vector<std::int32_t> bucketIndex_;
  plotwell::FilterType filterType_ = plotwell::FilterType::Hourly;
  bool regularGrid_ = false;
};

}  // namespace plotwell

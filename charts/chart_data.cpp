#include "charts/chart_data.h"

#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>

namespace plotwell {

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

std::int32_t ConvertToInt32(QStringView text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (begin < end && (text[begin] == u'+' || text[begin] == u'-')) {
    negative = text[begin] == u'-';
    ++begin;
  }
  if (begin == end) throw CSimplEx(DISP_E_TYPEMISMATCH);
  std::int64_t magnitude = 0;
  bool overflow = false;
  for (qsizetype i = begin; i < end; ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') throw CSimplEx(DISP_E_TYPEMISMATCH);
    if (!overflow) {
      magnitude = magnitude * 10 + (c - u'0');
      if (magnitude > std::int64_t{kInt32Max} + 1) overflow = true;
    }
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (overflow || value > kInt32Max || value < kInt32Min) throw CSimplEx(DISP_E_OVERFLOW);
  return static_cast<std::int32_t>(value);
}

ItemFields ReadItemFields(const ItemText& item) {
  ItemFields fields;
  if (item.hasValue) fields.value = ConvertToInt32(item.value);
  if (item.hasCount) {
    const std::int32_t n = ConvertToInt32(item.count);
    fields.count = n < 1 ? 0 : n;
  }
  if (item.hasAlt) fields.alt = ConvertToInt32(item.alt) != 0 ? 1 : 0;
  return fields;
}

namespace {

// The parts of an ITM element as the DOM holds them.
struct DomItem {
  explicit DomItem(const QDomElement& element) {
    const auto take = [&](const QString& name, QString* value, QStringView* view, bool* has) {
      *has = element.hasAttribute(name);
      if (*has) {
        *value = element.attribute(name);
        *view = *value;
      }
    };
    take(QStringLiteral("TM"), &time, &text.time, &text.hasTime);
    take(QStringLiteral("LBL"), &label, &text.label, &text.hasLabel);
    take(QStringLiteral("CNT"), &count, &text.count, &text.hasCount);
    take(QStringLiteral("ALT"), &alt, &text.alt, &text.hasAlt);
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling()) {
      if (child.nodeType() == QDomNode::TextNode) {
        value = child.nodeValue();
        text.value = value;
        text.hasValue = true;
        break;
      }
    }
  }

  QString time, label, count, alt, value;
  ItemText text;
};

}  // namespace

// ---------------------------------------------------------------------------------

ChartData::~ChartData() = default;

void ChartData::Load(const QString& document) {
  try {
    // The plain documents the program writes are read directly; anything else goes
    // through the DOM parser, which has the last word on well-formedness.
    ChartDocumentScanner scanner(document);
    QStringView rootName;
    int children = 0;
    if (scanner.Scan(nullptr, &rootName, &children)) {
      if (rootName.compare(QLatin1String("VYR_CHART_DATA"), Qt::CaseInsensitive) != 0) {
        throw CSimplEx(E_CHARTDATA);
      }
      BeginLoad(children);
      const std::function<void(const ItemText&)> onItem = [this](const ItemText& item) {
        ReadItem(item);
      };
      scanner.Scan(&onItem, &rootName, &children);
      EndLoad();
      return;
    }

    QDomDocument dom;
    if (!dom.setContent(document)) throw CSimplEx(E_CHARTDATA);
    const QDomElement root = dom.documentElement();
    if (root.isNull()) throw CSimplEx(E_POINTER);
    if (root.nodeName().compare(QLatin1String("VYR_CHART_DATA"), Qt::CaseInsensitive) != 0) {
      throw CSimplEx(E_CHARTDATA);
    }
    BeginLoad(static_cast<int>(root.childNodes().size()));
    for (QDomNode child = root.firstChild(); !child.isNull(); child = child.nextSibling()) {
      if (!child.isElement()) continue;
      if (child.nodeName().compare(QLatin1String("ITM"), Qt::CaseInsensitive) != 0) continue;
      ReadItem(DomItem(child.toElement()).text);
    }
    EndLoad();
  } catch (const CSimplEx&) {
    Empty();
    throw;
  } catch (const std::bad_alloc&) {
    Empty();
    throw CSimplEx(E_OUTOFMEMORY);
  } catch (...) {
    Empty();
    throw CSimplEx(E_FAIL);
  }
}

HRESULT ChartData::TryLoad(const QString& document) noexcept {
  return CatchChartFailure([&] { Load(document); });
}

void ChartData::CheckIndex(int i) const {
  if (i < 0 || i >= entries_) throw CSimplEx(E_INVALIDARG);
}

void ChartData::ZeroExtremes() {
  maxCount_ = minCount_ = maxValue_ = minValue_ = 0;
}

// ---------------------------------------------------------------------------------

std::size_t ItemColumns::Checked(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= values_.size()) throw CSimplEx(E_INVALIDARG);
  return static_cast<std::size_t>(i);
}

void ItemColumns::Reserve(std::size_t n) {
  values_.reserve(n);
  counts_.reserve(n);
  alts_.reserve(n);
}

void ItemColumns::Insert(std::size_t at, const ItemFields& fields) {
  values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(at), fields.value);
  counts_.insert(counts_.begin() + static_cast<std::ptrdiff_t>(at), fields.count);
  alts_.insert(alts_.begin() + static_cast<std::ptrdiff_t>(at), fields.alt);
}

void ItemColumns::Empty() {
  values_.clear();
  counts_.clear();
  alts_.clear();
}

void ItemColumns::Release() {
  std::vector<std::int32_t>().swap(values_);
  std::vector<std::int32_t>().swap(counts_);
  std::vector<std::uint8_t>().swap(alts_);
}

// ---------------------------------------------------------------------------------

NonNumericData::~NonNumericData() = default;

void NonNumericData::Clear() {
  items_.Release();
  std::vector<std::int32_t>().swap(labelOffsets_);
  std::vector<char>().swap(pool_);
  poolCapacity_ = poolUsed_ = 0;
  entries_ = 0;
  ZeroExtremes();
}

// The items are the entries.
std::int32_t NonNumericData::CountAt(int i) const { return items_.Count(i); }

std::int32_t NonNumericData::ValueAt(int i) const { return items_.Value(i); }

std::uint8_t NonNumericData::AltAt(int i) const { return items_.Alt(i); }

const char* NonNumericData::LabelAt(int i) const {
  CheckIndex(i);
  return pool_.data() + labelOffsets_[i];
}

void NonNumericData::BeginLoad(int capacity) {
  Empty();
  // Every child of the root may be an item, so nothing grows while reading.
  const std::size_t n = static_cast<std::size_t>(capacity);
  items_.Reserve(n);
  labelOffsets_.reserve(n);
  maxCount_ = maxValue_ = kInt32Min;
  minCount_ = minValue_ = kInt32Max;
}

void NonNumericData::ReadItem(const ItemText& item) {
  const QByteArray label = item.hasLabel ? item.label.toUtf8() : QByteArray();
  const ItemFields fields = ReadItemFields(item);
  AppendLabel(label);
  items_.Insert(items_.Size(), fields);
  if (fields.count > maxCount_) maxCount_ = fields.count;
  if (fields.count < minCount_) minCount_ = fields.count;
  if (fields.value > maxValue_) maxValue_ = fields.value;
  if (fields.value < minValue_) minValue_ = fields.value;
}

void NonNumericData::AppendLabel(const QByteArray& label) {
  const std::size_t needed = static_cast<std::size_t>(label.size()) + 1;
  if (poolCapacity_ - poolUsed_ < needed) {
    const std::size_t growth = needed > kLabelPoolGrowth ? needed : kLabelPoolGrowth;
    pool_.resize(poolCapacity_ + growth);
    poolCapacity_ += growth;
  }
  if (poolUsed_ > static_cast<std::size_t>(kInt32Max)) throw CSimplEx(E_OUTOFMEMORY);
  labelOffsets_.push_back(static_cast<std::int32_t>(poolUsed_));
  std::memcpy(pool_.data() + poolUsed_, label.constData(), needed - 1);
  pool_[poolUsed_ + needed - 1] = '\0';
  poolUsed_ += needed;
}

void NonNumericData::EndLoad() {
  entries_ = static_cast<int>(items_.Size());
  if (maxValue_ < minValue_) maxValue_ = minValue_ = 0;
  if (maxCount_ < minCount_) maxCount_ = minCount_ = 0;
}

void NonNumericData::Empty() {
  items_.Empty();
  labelOffsets_.clear();
  poolUsed_ = 0;
  entries_ = 0;
  ZeroExtremes();
}

}  // namespace plotwell

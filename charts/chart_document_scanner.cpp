#include "charts/chart_document_scanner.h"

namespace plotwell {

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
bool IsNameStart(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}
bool IsNameChar(char16_t c) {
  return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
}
bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}
// Characters taken literally: everything but controls (tab and line feed aside), the
// C1 range, non-characters and lone surrogates, which go to the full parser.
bool IsPlainChar(char16_t c) {
  if (c < 0x20) return c == u'\t' || c == u'\n';
  if (c >= 0x7F && c <= 0x9F) return false;
  return c < 0xFFFE;
}

bool EqualsIgnoringCase(QStringView a, QLatin1StringView b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

bool ChartDocumentScanner::SkipSpace() {
  const QChar* start = p_;
  while (p_ < end_ && IsSpace(p_->unicode())) ++p_;
  return p_ != start;
}

bool ChartDocumentScanner::ReadName(QStringView* name) {
  const QChar* start = p_;
  if (p_ >= end_ || !IsNameStart(p_->unicode())) return false;
  ++p_;
  while (p_ < end_ && IsNameChar(p_->unicode())) ++p_;
  // Prefixed and non-ASCII names are left to the full parser.
  if (p_ < end_ && (p_->unicode() == u':' || p_->unicode() >= 0x80)) return false;
  *name = QStringView(start, p_ - start);
  return true;
}

// At '&': one of the five predefined entities or a character reference to a legal
// character.
bool ChartDocumentScanner::ReadReference() {
  ++p_;
  if (p_ < end_ && p_->unicode() == u'#') {
    ++p_;
    const bool hex = p_ < end_ && p_->unicode() == u'x';
    if (hex) ++p_;
    char32_t code = 0;
    int digits = 0;
    while (p_ < end_ && p_->unicode() != u';') {
      const char16_t c = p_->unicode();
      int d;
      if (c >= u'0' && c <= u'9') {
        d = c - u'0';
      } else if (hex && c >= u'a' && c <= u'f') {
        d = c - u'a' + 10;
      } else if (hex && c >= u'A' && c <= u'F') {
        d = c - u'A' + 10;
      } else {
        return false;
      }
      code = code * (hex ? 16 : 10) + d;
      if (code > 0x10FFFF) return false;
      ++digits;
      ++p_;
    }
    if (p_ >= end_ || digits == 0 || !IsXmlChar(code)) return false;
    ++p_;
    return true;
  }
  const QChar* start = p_;
  while (p_ < end_ && p_->unicode() != u';' && p_ - start < 5) ++p_;
  if (p_ >= end_ || p_->unicode() != u';') return false;
  const QStringView name(start, p_ - start);
  ++p_;
  return name == u"amp" || name == u"lt" || name == u"gt" || name == u"apos" ||
         name == u"quot";
}

// Character data up to the next '<'.
bool ChartDocumentScanner::ReadText(QStringView* raw, bool* hasReference, bool* spaceOnly) {
  const QChar* start = p_;
  *hasReference = false;
  *spaceOnly = true;
  while (p_ < end_) {
    const char16_t c = p_->unicode();
    if (c == u'<') break;
    if (c == u'&') {
      if (!ReadReference()) return false;
      *hasReference = true;
      continue;
    }
    if (c == u']' && end_ - p_ >= 3 && p_[1].unicode() == u']' && p_[2].unicode() == u'>') {
      return false;
    }
    if (QChar::isHighSurrogate(c)) {
      if (end_ - p_ < 2 || !p_[1].isLowSurrogate()) return false;
      p_ += 2;
      *spaceOnly = false;
      continue;
    }
    if (QChar::isLowSurrogate(c) || !IsPlainChar(c)) return false;
    if (!IsSpace(c)) *spaceOnly = false;
    ++p_;
  }
  // Whether a run of blanks and references counts as blank is the parser's business.
  if (*hasReference && *spaceOnly) return false;
  *raw = QStringView(start, p_ - start);
  return true;
}

// At '<' of a start tag.
bool ChartDocumentScanner::ReadStartTag(QStringView* name, bool* selfClosing) {
  ++p_;
  if (!ReadName(name)) return false;
  attributes_.clear();
  for (;;) {
    const bool spaced = SkipSpace();
    if (p_ >= end_) return false;
    if (p_->unicode() == u'>') {
      ++p_;
      *selfClosing = false;
      return true;
    }
    if (p_->unicode() == u'/') {
      if (end_ - p_ < 2 || p_[1].unicode() != u'>') return false;
      p_ += 2;
      *selfClosing = true;
      return true;
    }
    if (!spaced) return false;
    Attribute attribute;
    if (!ReadName(&attribute.name)) return false;
    SkipSpace();
    if (p_ >= end_ || p_->unicode() != u'=') return false;
    ++p_;
    SkipSpace();
    if (p_ >= end_ || (p_->unicode() != u'\'' && p_->unicode() != u'"')) return false;
    const char16_t quote = p_->unicode();
    ++p_;
    const QChar* start = p_;
    while (p_ < end_ && p_->unicode() != quote) {
      const char16_t c = p_->unicode();
      if (c == u'<') return false;
      if (c == u'&') {
        if (!ReadReference()) return false;
        attribute.hasReference = true;
        continue;
      }
      if (QChar::isHighSurrogate(c)) {
        if (end_ - p_ < 2 || !p_[1].isLowSurrogate()) return false;
        p_ += 2;
        continue;
      }
      // Tabs and line breaks would be normalised to blanks: left to the parser.
      if (c == u'\t' || c == u'\n' || QChar::isLowSurrogate(c) || !IsPlainChar(c)) {
        return false;
      }
      ++p_;
    }
    if (p_ >= end_) return false;
    attribute.raw = QStringView(start, p_ - start);
    ++p_;
    for (const Attribute& other : attributes_) {
      if (other.name == attribute.name) return false;
    }
    attributes_.push_back(attribute);
  }
}

QString ChartDocumentScanner::Unescape(QStringView raw) {
  QString out;
  out.reserve(raw.size());
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw[i] != u'&') {
      out += raw[i];
      continue;
    }
    const qsizetype semi = raw.indexOf(u';', i);
    const QStringView ref = raw.mid(i + 1, semi - i - 1);
    i = semi;
    if (ref.startsWith(u'#')) {
      const bool hex = ref.size() > 1 && ref[1] == u'x';
      const char32_t code = hex ? ref.mid(2).toUInt(nullptr, 16) : ref.mid(1).toUInt(nullptr, 10);
      out += QString::fromUcs4(&code, 1);
    } else if (ref == u"amp") {
      out += u'&';
    } else if (ref == u"lt") {
      out += u'<';
    } else if (ref == u"gt") {
      out += u'>';
    } else if (ref == u"apos") {
      out += u'\'';
    } else {
      out += u'"';
    }
  }
  return out;
}

bool ChartDocumentScanner::Scan(const std::function<void(const ItemText&)>* onItem,
                                QStringView* rootName, int* childCount) {
  p_ = text_.data();
  end_ = p_ + text_.size();
  int children = 0;

  // Unescaped copies of the current item's parts that held references.
  QString timeText, labelText, countText, altText, valueText;
  ItemText item;
  bool inItem = false;

  const auto takeAttributes = [&] {
    item = ItemText();
    for (const Attribute& a : attributes_) {
      QStringView* target = nullptr;
      QString* scratch = nullptr;
      bool* has = nullptr;
      if (a.name == u"TM") {
        target = &item.time, scratch = &timeText, has = &item.hasTime;
      } else if (a.name == u"LBL") {
        target = &item.label, scratch = &labelText, has = &item.hasLabel;
      } else if (a.name == u"CNT") {
        target = &item.count, scratch = &countText, has = &item.hasCount;
      } else if (a.name == u"ALT") {
        target = &item.alt, scratch = &altText, has = &item.hasAlt;
      } else {
        continue;
      }
      *has = true;
      if (a.hasReference) {
        *scratch = Unescape(a.raw);
        *target = *scratch;
      } else {
        *target = a.raw;
      }
    }
  };

  SkipSpace();
  if (p_ >= end_ || p_->unicode() != u'<') return false;
  QStringView root;
  bool selfClosing = false;
  if (!ReadStartTag(&root, &selfClosing)) return false;
  std::vector<QStringView> open;
  if (!selfClosing) open.push_back(root);

  while (!open.empty()) {
    QStringView raw;
    bool hasReference = false;
    bool spaceOnly = true;
    if (!ReadText(&raw, &hasReference, &spaceOnly)) return false;
    if (p_ >= end_) return false;
    if (!spaceOnly) {
      if (open.size() == 1) ++children;
      if (inItem && open.size() == 2 && !item.hasValue) {
        item.hasValue = true;
        if (hasReference) {
          valueText = Unescape(raw);
          item.value = valueText;
        } else {
          item.value = raw;
        }
      }
    }
    // At '<'.
    if (end_ - p_ < 2) return false;
    const char16_t next = p_[1].unicode();
    if (next == u'/') {
      p_ += 2;
      QStringView name;
      if (!ReadName(&name) || name != open.back()) return false;
      SkipSpace();
      if (p_ >= end_ || p_->unicode() != u'>') return false;
      ++p_;
      open.pop_back();
      if (open.size() == 1 && inItem) {
        if (onItem != nullptr) (*onItem)(item);
        inItem = false;
      }
      continue;
    }
    if (next == u'!' || next == u'?') return false;
    QStringView name;
    if (!ReadStartTag(&name, &selfClosing)) return false;
    if (open.size() == 1) {
      ++children;
      if (EqualsIgnoringCase(name, QLatin1StringView("ITM"))) {
        inItem = true;
        if (onItem != nullptr) {
          takeAttributes();
        } else {
          item = ItemText();
        }
        if (selfClosing) {
          if (onItem != nullptr) (*onItem)(item);
          inItem = false;
        }
      }
    }
    if (!selfClosing) open.push_back(name);
  }

  SkipSpace();
  if (p_ != end_) return false;
  *rootName = root;
  *childCount = children;
  return true;
}

}  // namespace plotwell

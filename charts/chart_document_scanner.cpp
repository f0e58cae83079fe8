#include "charts/chart_document_scanner.h"

#include <iterator>

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

// The walk below the root: the open elements, the root's child count and the ITM child
// being read, with unescaped copies of its parts that held references.
struct ChartDocumentScanner::ScanState {
  struct Part {
    QStringView name;
    QStringView ItemText::*text;
    bool ItemText::*has;
  };
  static constexpr Part kParts[] = {{u"TM", &ItemText::time, &ItemText::hasTime},
                                    {u"LBL", &ItemText::label, &ItemText::hasLabel},
                                    {u"CNT", &ItemText::count, &ItemText::hasCount},
                                    {u"ALT", &ItemText::alt, &ItemText::hasAlt}};

  const std::function<void(const ItemText&)>* onItem = nullptr;
  std::vector<QStringView> open;
  int children = 0;
  bool inItem = false;
  ItemText item;
  QString partText[std::size(kParts)];
  QString valueText;

  void TakeAttributes(const std::vector<Attribute>& attributes) {
    item = ItemText();
    for (const Attribute& a : attributes) {
      for (std::size_t k = 0; k < std::size(kParts); ++k) {
        if (a.name != kParts[k].name) continue;
        item.*kParts[k].has = true;
        item.*kParts[k].text = View(a.raw, a.hasReference, &partText[k]);
        break;
      }
    }
  }
  void TakeValue(QStringView raw, bool hasReference) {
    item.hasValue = true;
    item.value = View(raw, hasReference, &valueText);
  }
  void EndItem() {
    if (onItem != nullptr) (*onItem)(item);
    inItem = false;
  }
  // The text as read, or its unescaped copy kept in scratch.
  static QStringView View(QStringView raw, bool hasReference, QString* scratch) {
    if (!hasReference) return raw;
    *scratch = Unescape(raw);
    return *scratch;
  }
};

// Character data and then the tag at the '<' after it.
bool ChartDocumentScanner::ScanNode(ScanState& state) {
  QStringView raw;
  bool hasReference = false;
  bool spaceOnly = true;
  if (!ReadText(&raw, &hasReference, &spaceOnly)) return false;
  if (p_ >= end_) return false;
  if (!spaceOnly) {
    if (state.open.size() == 1) ++state.children;
    if (state.inItem && state.open.size() == 2 && !state.item.hasValue) state.TakeValue(raw, hasReference);
  }
  // At '<'.
  if (end_ - p_ < 2) return false;
  const char16_t next = p_[1].unicode();
  if (next == u'/') return ScanEndTag(state);
  if (next == u'!' || next == u'?') return false;
  return ScanStartTag(state);
}

// At "</": the end tag of the innermost open element.
bool ChartDocumentScanner::ScanEndTag(ScanState& state) {
  p_ += 2;
  QStringView name;
  if (!ReadName(&name) || name != state.open.back()) return false;
  SkipSpace();
  if (p_ >= end_ || p_->unicode() != u'>') return false;
  ++p_;
  state.open.pop_back();
  if (state.open.size() == 1 && state.inItem) state.EndItem();
  return true;
}

// At '<' of a start tag below the root; a child of the root named ITM starts an item.
bool ChartDocumentScanner::ScanStartTag(ScanState& state) {
  QStringView name;
  bool selfClosing = false;
  if (!ReadStartTag(&name, &selfClosing)) return false;
  if (state.open.size() == 1) {
    ++state.children;
    if (EqualsIgnoringCase(name, QLatin1StringView("ITM"))) {
      state.inItem = true;
      if (state.onItem != nullptr) {
        state.TakeAttributes(attributes_);
      } else {
        state.item = ItemText();
      }
      if (selfClosing) state.EndItem();
    }
  }
  if (!selfClosing) state.open.push_back(name);
  return true;
}

bool ChartDocumentScanner::Scan(const std::function<void(const ItemText&)>* onItem,
                                QStringView* rootName, int* childCount) {
  p_ = text_.data();
  end_ = p_ + text_.size();
  SkipSpace();
  if (p_ >= end_ || p_->unicode() != u'<') return false;
  QStringView root;
  bool selfClosing = false;
  if (!ReadStartTag(&root, &selfClosing)) return false;
  ScanState state;
  state.onItem = onItem;
  if (!selfClosing) state.open.push_back(root);
  while (!state.open.empty()) {
    if (!ScanNode(state)) return false;
  }
  SkipSpace();
  if (p_ != end_) return false;
  *rootName = root;
  *childCount = state.children;
  return true;
}

}  // namespace plotwell

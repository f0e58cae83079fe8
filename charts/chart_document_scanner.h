#pragma once
// A fast reader for chart data documents of the plain form the program writes:
// elements, attributes, text and the standard character references, nothing else.
// Whenever a document holds anything outside that form (comments, CDATA, a document
// type, processing instructions, unusual characters) or is not well-formed, Scan
// answers false and the caller hands the text to the full XML parser, which then
// accepts or rejects it. So this reader never decides a rejection on its own.
#include <functional>
#include <vector>

#include <QString>
#include <QStringView>

namespace plotwell {

// The parts of one ITM element the data models read. Views stay valid only during
// the call that receives them.
struct ItemText {
  bool hasTime = false;
  bool hasLabel = false;
  bool hasCount = false;
  bool hasAlt = false;
  bool hasValue = false;  // a first text child exists
  QStringView time;
  QStringView label;
  QStringView count;
  QStringView alt;
  QStringView value;
};

class ChartDocumentScanner {
 public:
  explicit ChartDocumentScanner(QStringView text) : text_(text) {}

  // Walks the whole document. Without onItem it only checks the form; with it, it
  // also hands over every ITM child of the root in order. rootName and childCount
  // (the root's child nodes as a DOM would hold them) are set on success.
  bool Scan(const std::function<void(const ItemText&)>* onItem, QStringView* rootName,
            int* childCount);

 private:
  struct Attribute {
    QStringView name;
    QStringView raw;
    bool hasReference = false;
  };

  bool SkipSpace();
  bool ReadName(QStringView* name);
  bool ReadReference();
  bool ReadText(QStringView* raw, bool* hasReference, bool* spaceOnly);
  bool ReadStartTag(QStringView* name, bool* selfClosing);
  static QString Unescape(QStringView raw);

  struct ScanState;
  bool ScanNode(ScanState& state);
  bool ScanEndTag(ScanState& state);
  bool ScanStartTag(ScanState& state);

  QStringView text_;
  const QChar* p_ = nullptr;
  const QChar* end_ = nullptr;
  std::vector<Attribute> attributes_;
};

}  // namespace plotwell

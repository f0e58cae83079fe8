#pragma once
// A small page class over an HTML template: find an element by its id and set its
// text, its inner HTML or one of its attributes. The details page is filled this way;
// the shell shows the resulting text.
#include <string>
#include <string_view>

namespace weavil {

class HtmlPage {
 public:
  HtmlPage() = default;
  explicit HtmlPage(std::string html) : html_(std::move(html)) {}

  void Load(std::string html) { html_ = std::move(html); }
  const std::string& Html() const { return html_; }

  bool HasElement(std::string_view id) const;
  // The element's content as plain text is replaced (& < > are written as references).
  bool SetText(std::string_view id, std::string_view text);
  bool SetInnerHtml(std::string_view id, std::string_view html);
  // Adds or replaces an attribute of the element's start tag.
  bool SetAttribute(std::string_view id, std::string_view name, std::string_view value);
  // The element's content as it stands (markup included).
  std::string InnerHtml(std::string_view id) const;
  // The value of an attribute of the element's start tag; empty when it has none.
  std::string Attribute(std::string_view id, std::string_view name) const;

 private:
  struct Element {
    size_t tagStart = 0;      // '<' of the start tag
    size_t tagEnd = 0;        // one past '>' of the start tag
    size_t contentEnd = 0;    // '<' of the matching end tag
    std::string name;         // tag name in lower case
  };
  bool Find(std::string_view id, Element& element) const;

  std::string html_;
};

// Text as HTML: & < > " written as character references.
std::string EscapeHtml(std::string_view text);

}  // namespace weavil

#include "reports/html_page.h"

#include <cctype>

#include "base/text.h"

namespace weavil {

namespace {

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':'; }

// One attribute of a start tag: name, and the value's place (without quotes).
struct AttributeSpan {
  size_t nameStart = 0, nameEnd = 0;
  size_t valueStart = 0, valueEnd = 0;  // equal when there is no value
  size_t end = 0;                       // one past the attribute, quotes included
};

// Reads the attributes of the start tag html[from, tagEnd) one by one.
bool NextAttribute(std::string_view html, size_t& pos, size_t tagEnd, AttributeSpan& a) {
  while (pos < tagEnd && (std::isspace(static_cast<unsigned char>(html[pos])) || html[pos] == '/')) ++pos;
  if (pos >= tagEnd || html[pos] == '>') return false;
  a.nameStart = pos;
  while (pos < tagEnd && !std::isspace(static_cast<unsigned char>(html[pos])) && html[pos] != '=' &&
         html[pos] != '>')
    ++pos;
  a.nameEnd = pos;
  while (pos < tagEnd && std::isspace(static_cast<unsigned char>(html[pos]))) ++pos;
  a.valueStart = a.valueEnd = pos;
  if (pos < tagEnd && html[pos] == '=') {
    ++pos;
    while (pos < tagEnd && std::isspace(static_cast<unsigned char>(html[pos]))) ++pos;
    if (pos < tagEnd && (html[pos] == '"' || html[pos] == '\'')) {
      char quote = html[pos++];
      a.valueStart = pos;
      while (pos < tagEnd && html[pos] != quote) ++pos;
      a.valueEnd = pos;
      if (pos < tagEnd) ++pos;
    } else {
      a.valueStart = pos;
      while (pos < tagEnd && !std::isspace(static_cast<unsigned char>(html[pos])) && html[pos] != '>') ++pos;
      a.valueEnd = pos;
    }
  } else {
    pos = a.nameEnd;
  }
  a.end = pos;
  return true;
}

size_t TagEnd(std::string_view html, size_t from) {
  char quote = 0;
  for (size_t i = from; i < html.size(); ++i) {
    char c = html[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool HtmlPage::Find(std::string_view id, Element& element) const {
  std::string_view html = html_;
  for (size_t open = html.find('<'); open != std::string_view::npos; open = html.find('<', open + 1)) {
    if (open + 1 >= html.size() || !std::isalpha(static_cast<unsigned char>(html[open + 1]))) continue;
    size_t nameEnd = open + 1;
    while (nameEnd < html.size() && IsNameChar(html[nameEnd])) ++nameEnd;
    size_t tagEnd = TagEnd(html, nameEnd);
    if (tagEnd == std::string_view::npos) return false;
    size_t pos = nameEnd;
    AttributeSpan a;
    bool match = false;
    while (NextAttribute(html, pos, tagEnd, a)) {
      if (a.nameEnd - a.nameStart == 2 && MatchesNoCase(html, a.nameStart, "id") &&
          html.substr(a.valueStart, a.valueEnd - a.valueStart) == id) {
        match = true;
        break;
      }
    }
    if (!match) continue;
    element.tagStart = open;
    element.tagEnd = tagEnd;
    element.name.clear();
    for (size_t i = open + 1; i < nameEnd; ++i) element.name += ToLowerAscii(html[i]);
    // The matching end tag: count nested elements of the same name.
    int nesting = 1;
    size_t scan = tagEnd;
    while (scan < html.size()) {
      size_t lt = html.find('<', scan);
      if (lt == std::string_view::npos) break;
      bool closing = lt + 1 < html.size() && html[lt + 1] == '/';
      size_t nameAt = lt + (closing ? 2 : 1);
      size_t after = nameAt + element.name.size();
      if (MatchesNoCase(html, nameAt, element.name) && (after >= html.size() || !IsNameChar(html[after]))) {
        if (closing && --nesting == 0) {
          element.contentEnd = lt;
          return true;
        }
        if (!closing) ++nesting;
      }
      scan = lt + 1;
    }
    // No end tag: an empty element, content inserted right after its start tag.
    element.contentEnd = tagEnd;
    return true;
  }
  return false;
}

bool HtmlPage::HasElement(std::string_view id) const {
  Element element;
  return Find(id, element);
}

bool HtmlPage::SetInnerHtml(std::string_view id, std::string_view html) {
  Element element;
  if (!Find(id, element)) return false;
  html_.replace(element.tagEnd, element.contentEnd - element.tagEnd, html);
  return true;
}

bool HtmlPage::SetText(std::string_view id, std::string_view text) { return SetInnerHtml(id, EscapeHtml(text)); }

std::string HtmlPage::InnerHtml(std::string_view id) const {
  Element element;
  if (!Find(id, element)) return {};
  return html_.substr(element.tagEnd, element.contentEnd - element.tagEnd);
}

bool HtmlPage::SetAttribute(std::string_view id, std::string_view name, std::string_view value) {
  Element element;
  if (!Find(id, element)) return false;
  std::string quoted = "\"" + EscapeHtml(value) + "\"";
  std::string_view html = html_;
  size_t pos = element.tagStart + 1;
  while (pos < element.tagEnd && IsNameChar(html[pos])) ++pos;
  AttributeSpan a;
  while (NextAttribute(html, pos, element.tagEnd, a)) {
    if (a.nameEnd - a.nameStart == name.size() && MatchesNoCase(html, a.nameStart, name)) {
      html_.replace(a.nameStart, a.end - a.nameStart, std::string(name) + "=" + quoted);
      return true;
    }
  }
  size_t insertAt = element.tagEnd - 1;  // before '>' (or "/>")
  if (insertAt > element.tagStart && html_[insertAt - 1] == '/') --insertAt;
  html_.insert(insertAt, " " + std::string(name) + "=" + quoted);
  return true;
}

std::string HtmlPage::Attribute(std::string_view id, std::string_view name) const {
  Element element;
  if (!Find(id, element)) return {};
  std::string_view html = html_;
  size_t pos = element.tagStart + 1;
  while (pos < element.tagEnd && IsNameChar(html[pos])) ++pos;
  AttributeSpan a;
  while (NextAttribute(html, pos, element.tagEnd, a))
    if (a.nameEnd - a.nameStart == name.size() && MatchesNoCase(html, a.nameStart, name))
      return std::string(html.substr(a.valueStart, a.valueEnd - a.valueStart));
  return {};
}

}  // namespace weavil

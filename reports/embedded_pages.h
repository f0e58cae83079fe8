#pragma once
// The pages the program carries inside itself: the start page, the visit details
// template and the background picture both use.
#include <string_view>

namespace weavil {

inline constexpr const char* kStartPageFile = "start.html";      // resource 242
inline constexpr const char* kDetailsPageFile = "details.html";  // resource 254
inline constexpr const char* kBackgroundFile = "images/bg1.png"; // "IMAGES/BG1"

// The bytes of an embedded file by its path under reports/page_templates; empty when unknown.
std::string_view EmbeddedFile(std::string_view name);

inline std::string_view StartPageHtml() { return EmbeddedFile(kStartPageFile); }
inline std::string_view DetailsPageHtml() { return EmbeddedFile(kDetailsPageFile); }

}  // namespace weavil

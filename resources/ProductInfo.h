#pragma once

// The program's own fixed texts: its product name (which is not the executable's name), its
// one-line legal notice and the maker's web site that the About box links to. The site is
// set when the program is configured (QUILL_WEBSITE_URL).

#include <string_view>

namespace Product {

inline constexpr std::u16string_view Name = u"Quillstream";
inline constexpr std::u16string_view LegalNotice = u"Copyright \u00A9 2026 Orix Software";
#ifdef QUILL_WEBSITE_URL
inline constexpr std::string_view WebSite = QUILL_WEBSITE_URL;
#else
inline constexpr std::string_view WebSite = "https://quillstream.orix.example/";
#endif

} // namespace Product

// Where the installer's guide (help.html) is opened: the anchor of each page of the
// settings sheet, in tab order. The guide's headings carry the same names.
#pragma once

#include <array>

inline constexpr std::array<const char*, 5> kPageHelpAnchors = {
    "page-general", "page-phones", "page-loops", "page-groups", "page-codes"};

// The help page on the Contact ID event codes, written from the compiled-in table so the
// page and the utility can never disagree.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

// Text with &, <, > and the double quote escaped for HTML content and attribute values.
std::string HtmlEscape(std::string_view text);

// The whole page, UTF-8, one table row per code.
void WriteHelpPage(std::ostream& out);

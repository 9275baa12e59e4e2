#include "HelpPage.h"

#include "settings/ContactIdTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

std::string Cell(std::string_view text) {
    return text == " " ? "&nbsp;" : HtmlEscape(text);
}

TEST(HelpPage, EscapesMarkup) {
    EXPECT_EQ(HtmlEscape("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
    EXPECT_EQ(HtmlEscape("Снятие/Взятие"), "Снятие/Взятие");
    EXPECT_EQ(HtmlEscape(""), "");
}

TEST(HelpPage, GeneratedPageHasARowForEveryCode) {
    const std::string page = ReadFile(TORVIK7_HELP_PAGE);
    ASSERT_FALSE(page.empty()) << TORVIK7_HELP_PAGE;
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("<html lang=\"ru\">"), std::string::npos);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("<title>Коды событий Contact ID"), std::string::npos);
    EXPECT_EQ(Count(page, "<tr id=\"code-"), 123u);
    EXPECT_EQ(Count(page, "<tr"), 124u); // the header row and one row per code
    for (std::size_t i = 0; i < EventTableSize(); ++i) {
        const EventEntry& e = EventTableEntry(i);
        char code[8];
        std::snprintf(code, sizeof code, "%03d", e.code);
        const std::string row = std::string("<tr id=\"code-") + code + "\"><td class=\"code\">" +
                                code + "</td><td>" + Cell(e.english) + "</td><td>" +
                                Cell(e.russian) + "</td></tr>\n";
        EXPECT_EQ(Count(page, row), 1u) << row;
    }
    EXPECT_NE(page.find("<td>Burglary</td><td>Охранная тревога</td>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"code\">000</td><td>&nbsp;</td><td>Извещение не доставлять"),
              std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 8), "</html>\n");
}

TEST(HelpPage, BuiltPageIsTheCurrentOne) {
    std::ostringstream fresh;
    WriteHelpPage(fresh);
    EXPECT_EQ(ReadFile(TORVIK7_HELP_PAGE), fresh.str());
}

} // namespace

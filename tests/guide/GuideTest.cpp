// The installer's guide as built: a section for each page of the settings sheet and for
// each link error, headed by the error's own text; and the converter's refusals.
#include "GuidePage.h"
#include "app/HelpAnchors.h"
#include "link/Protocol.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string BuiltGuide() {
    std::ifstream in(TORVIK7_GUIDE_PAGE, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The heading that carries `anchor`, from its opening tag to its closing one.
std::string Heading(const std::string& html, const std::string& anchor) {
    const std::size_t at = html.find(" id=\"" + anchor + "\"><a name=\"" + anchor + "\"></a>");
    if (at == std::string::npos) return {};
    const std::size_t end = html.find("</h", at);
    return html.substr(at, end - at);
}

} // namespace

TEST(Guide, HasASectionForEveryPageOfTheSheet) {
    const std::string html = BuiltGuide();
    ASSERT_FALSE(html.empty());
    for (const char* anchor : kPageHelpAnchors)
        EXPECT_FALSE(Heading(html, anchor).empty()) << anchor;
}

TEST(Guide, HeadsASectionWithEveryLinkErrorTextExactly) {
    const std::string html = BuiltGuide();
    for (int code = 1; code <= 10; ++code) {
        const std::string text = LinkErrorText(code);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(Heading(html, "link-error-" + std::to_string(code)).find("«" + text + "»"),
                  std::string::npos)
            << code << ": " << text;
    }
}

TEST(Guide, ConverterRefusesWhatWouldBreakALinkOrAPicture) {
    const auto none = [](const std::string&) -> std::optional<std::string> { return {}; };
    const struct {
        const char* markdown;
        const char* error;
    } cases[] = {
        {"# Title\n", "line 1: a heading names its anchor: {#anchor}"},
        {"# A {#a}\n\n## B {#a}\n", "line 3: anchor used twice: a"},
        {"# A {#a}\n![x](missing.png)\n", "line 2: picture not found: missing.png"},
        {"# A {#a}\n| a | b |\n| c | d |\n", "line 2: a table needs its |---| line"},
        {"```\ncode\n", "line 2: a code block is not closed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MarkdownToHtml(c.markdown, none).error, c.error) << c.markdown;

    const GuideResult ok = MarkdownToHtml(
        "# Т & <т> {#top}\n\n| a | `b` |\n|---|---|\n| **c** | [d](#top) |\n\n- e\n- f\n\n"
        "![p](p.png)\n",
        [](const std::string&) -> std::optional<std::string> { return std::string("abcd"); });
    EXPECT_EQ(ok.error, "");
    for (const char* part :
         {"<title>Т &amp; &lt;т&gt;</title>",
          "<h1 id=\"top\"><a name=\"top\"></a>Т &amp; &lt;т&gt;</h1>",
          "<tr>\n<th>a</th>\n<th><code>b</code></th>\n</tr>",
          "<tr>\n<td><strong>c</strong></td>\n<td><a href=\"#top\">d</a></td>\n</tr>",
          "<ul>\n<li>e</li>\n<li>f</li>\n</ul>", "src=\"data:image/png;base64,YWJjZA==\""})
        EXPECT_NE(ok.html.find(part), std::string::npos) << part;
}

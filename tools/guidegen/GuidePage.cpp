#include "GuidePage.h"

#include "HelpPage.h"

#include <md4c-html.h>

#include <QByteArray>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

const char kHead[] = R"(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>)";

const char kStyle[] = R"(</title>
<style>
body { font-family: sans-serif; margin: 2em auto; max-width: 60em; padding: 0 1em; color: #222; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #e8e8e8; }
code, pre { font-family: monospace; background: #f3f3f3; }
pre { padding: 0.5em; }
img { max-width: 100%; border: 1px solid #ccc; }
</style>
</head>
<body>
)";

// What the Markdown library would take quietly but would break a link into the guide or a
// picture in it: refused with the line, before the page is made. Pictures are read here.
std::string Refusal(const std::vector<std::string>& lines, const PictureReader& readPicture,
                    std::map<std::string, std::string>& pictures) {
    auto at = [](std::size_t n, const std::string& what) {
        return "line " + std::to_string(n + 1) + ": " + what;
    };
    std::set<std::string> anchors;
    std::size_t fence = 0;
    bool inFence = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Trim(lines[i]);
        if (StartsWith(line, "```")) {
            inFence = !inFence;
            fence = i;
            continue;
        }
        if (inFence || StartsWith(lines[i], "    ")) continue;
        if (StartsWith(line, "#")) {
            static const std::regex heading(R"(^#{1,4} .*\{#([^}]+)\}$)");
            std::cmatch m;
            if (StartsWith(line, "#####")) return at(i, "headings go down to ####");
            if (!std::regex_match(line.begin(), line.end(), m, heading))
                return at(i, "a heading names its anchor: {#anchor}");
            if (!anchors.insert(m[1]).second) return at(i, "anchor used twice: " + m[1].str());
        } else if (StartsWith(line, "![")) {
            static const std::regex picture(R"(^!\[[^\]]*\]\(([^)]+)\)$)");
            std::cmatch m;
            if (!std::regex_match(line.begin(), line.end(), m, picture))
                return at(i, "a picture is written ![text](path)");
            const auto bytes = readPicture(m[1]);
            if (!bytes) return at(i, "picture not found: " + m[1].str());
            pictures[m[1]] = *bytes;
        } else if (StartsWith(line, "|") && (i == 0 || !StartsWith(Trim(lines[i - 1]), "|"))) {
            const std::string_view rule = i + 1 < lines.size() ? Trim(lines[i + 1]) : "";
            if (!StartsWith(rule, "|--") && !StartsWith(rule, "|:-"))
                return at(i, "a table needs its |---| line");
        }
    }
    return inFence ? at(lines.size() - 1 > fence ? lines.size() - 1 : fence,
                        "a code block is not closed")
                   : std::string();
}

} // namespace

GuideResult MarkdownToHtml(const std::string& markdown, const PictureReader& readPicture) {
    std::vector<std::string> lines;
    {
        std::istringstream in(markdown);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    std::map<std::string, std::string> pictures;
    if (std::string error = Refusal(lines, readPicture, pictures); !error.empty())
        return {{}, error};

    std::string body;
    md_html(
        markdown.data(), static_cast<MD_SIZE>(markdown.size()),
        [](const MD_CHAR* text, MD_SIZE size, void* out) {
            static_cast<std::string*>(out)->append(text, size);
        },
        &body, MD_FLAG_TABLES | MD_FLAG_NOHTML, 0);

    // "Title {#anchor}" becomes the heading's id; the empty <a name> serves viewers that jump
    // only to named anchors.
    static const std::regex heading(R"(<h([1-4])>(.*?) *\{#([^}]+)\}</h\1>)");
    body = std::regex_replace(body, heading, R"(<h$1 id="$3"><a name="$3"></a>$2</h$1>)");
    // Pictures go into the page as data: URLs, so the page is one file.
    for (const auto& [path, bytes] : pictures) {
        const std::string src = "src=\"" + HtmlEscape(path) + "\"";
        const std::string data = "src=\"data:image/png;base64," +
                                 QByteArray::fromStdString(bytes).toBase64().toStdString() + "\"";
        for (std::size_t at = body.find(src); at != std::string::npos;
             at = body.find(src, at + data.size()))
            body.replace(at, src.size(), data);
    }
    std::smatch first;
    static const std::regex h1(R"(<h1 id="[^"]*"><a name="[^"]*"></a>(.*?)</h1>)");
    const std::string title = std::regex_search(body, first, h1)
                                  ? std::regex_replace(first[1].str(), std::regex("<[^>]*>"), "")
                                  : std::string();
    return {kHead + title + kStyle + body + "</body>\n</html>\n", {}};
}

#include "GuidePage.h"

#include "HelpPage.h"

#include <sstream>
#include <string_view>
#include <vector>

namespace {

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += kDigits[v >> 6 & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kDigits[v >> 18 & 63];
        out += kDigits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

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

// `code`, **bold** and [text](url) inside a line; everything else escaped.
std::string Inline(std::string_view s) {
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '`') {
            const std::size_t end = s.find('`', i + 1);
            if (end != std::string_view::npos) {
                out += "<code>" + HtmlEscape(s.substr(i + 1, end - i - 1)) + "</code>";
                i = end + 1;
                continue;
            }
        }
        if (s.substr(i, 2) == "**") {
            const std::size_t end = s.find("**", i + 2);
            if (end != std::string_view::npos) {
                out += "<b>" + Inline(s.substr(i + 2, end - i - 2)) + "</b>";
                i = end + 2;
                continue;
            }
        }
        if (s[i] == '[') {
            const std::size_t close = s.find("](", i);
            const std::size_t end =
                close == std::string_view::npos ? close : s.find(')', close + 2);
            if (end != std::string_view::npos) {
                out += "<a href=\"" + HtmlEscape(s.substr(close + 2, end - close - 2)) + "\">" +
                       Inline(s.substr(i + 1, close - i - 1)) + "</a>";
                i = end + 1;
                continue;
            }
        }
        out += HtmlEscape(s.substr(i, 1));
        ++i;
    }
    return out;
}

std::vector<std::string> Cells(std::string_view row) {
    row = Trim(row);
    if (StartsWith(row, "|")) row.remove_prefix(1);
    if (!row.empty() && row.back() == '|') row.remove_suffix(1);
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= row.size(); ++i) {
        if (i == row.size() || (row[i] == '|' && (i == 0 || row[i - 1] != '\\'))) {
            cells.emplace_back(Trim(row.substr(start, i - start)));
            start = i + 1;
        }
    }
    return cells;
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

} // namespace

GuideResult MarkdownToHtml(const std::string& markdown, const PictureReader& readPicture) {
    std::vector<std::string> lines;
    {
        std::istringstream in(markdown);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    std::string body, title;
    std::vector<std::string> anchors;
    auto fail = [](std::size_t n, const std::string& what) {
        return GuideResult{{}, "line " + std::to_string(n + 1) + ": " + what};
    };

    std::size_t i = 0;
    while (i < lines.size()) {
        const std::string_view line = Trim(lines[i]);
        if (line.empty()) {
            ++i;
            continue;
        }
        if (StartsWith(line, "```")) {
            std::string code;
            for (++i; i < lines.size() && !StartsWith(Trim(lines[i]), "```"); ++i)
                code += HtmlEscape(lines[i]) + "\n";
            if (i == lines.size()) return fail(i - 1, "a code block is not closed");
            ++i;
            body += "<pre>" + code + "</pre>\n";
            continue;
        }
        if (StartsWith(lines[i], "    ")) {
            std::string code;
            for (; i < lines.size() && (StartsWith(lines[i], "    ") || Trim(lines[i]).empty());
                 ++i)
                code += HtmlEscape(lines[i].size() > 4 ? lines[i].substr(4) : "") + "\n";
            while (code.size() > 1 && code.substr(code.size() - 2) == "\n\n")
                code.pop_back();
            body += "<pre>" + code + "</pre>\n";
            continue;
        }
        if (line[0] == '#') {
            std::size_t level = 0;
            while (level < line.size() && line[level] == '#')
                ++level;
            if (level > 4) return fail(i, "headings go down to ####");
            std::string_view text = Trim(line.substr(level));
            const std::size_t open = text.rfind("{#");
            if (open == std::string_view::npos || text.back() != '}')
                return fail(i, "a heading names its anchor: {#anchor}");
            const std::string anchor(text.substr(open + 2, text.size() - open - 3));
            text = Trim(text.substr(0, open));
            for (const auto& a : anchors)
                if (a == anchor) return fail(i, "anchor used twice: " + anchor);
            anchors.push_back(anchor);
            if (level == 1 && title.empty()) title = std::string(text);
            const std::string h = "h" + std::to_string(level);
            // The empty <a name> serves viewers that jump only to named anchors.
            body += "<" + h + " id=\"" + HtmlEscape(anchor) + "\"><a name=\"" + HtmlEscape(anchor) +
                    "\"></a>" + Inline(text) + "</" + h + ">\n";
            ++i;
            continue;
        }
        if (StartsWith(line, "![")) {
            const std::size_t close = line.find("](");
            if (close == std::string_view::npos || line.back() != ')')
                return fail(i, "a picture is written ![text](path)");
            const std::string alt(line.substr(2, close - 2));
            const std::string path(line.substr(close + 2, line.size() - close - 3));
            const auto bytes = readPicture(path);
            if (!bytes) return fail(i, "picture not found: " + path);
            body += "<p><img src=\"data:image/png;base64," + Base64(*bytes) + "\" alt=\"" +
                    HtmlEscape(alt) + "\" title=\"" + HtmlEscape(alt) + "\"></p>\n";
            ++i;
            continue;
        }
        if (line[0] == '|') {
            const std::string_view rule = i + 1 < lines.size() ? Trim(lines[i + 1]) : "";
            if (!StartsWith(rule, "|--") && !StartsWith(rule, "|:-"))
                return fail(i, "a table needs its |---| line");
            std::string table = "<table>\n<tr>";
            for (const auto& c : Cells(line))
                table += "<th>" + Inline(c) + "</th>";
            table += "</tr>\n";
            for (i += 2; i < lines.size() && StartsWith(Trim(lines[i]), "|"); ++i) {
                table += "<tr>";
                for (const auto& c : Cells(lines[i]))
                    table += "<td>" + Inline(c) + "</td>";
                table += "</tr>\n";
            }
            body += table + "</table>\n";
            continue;
        }
        const bool bullet = StartsWith(line, "- ");
        const auto numbered = [](std::string_view s) {
            std::size_t d = 0;
            while (d < s.size() && s[d] >= '0' && s[d] <= '9')
                ++d;
            return d > 0 && s.substr(d, 2) == ". " ? d + 2 : 0;
        };
        if (bullet || numbered(line)) {
            const char* tag = bullet ? "ul" : "ol";
            body += std::string("<") + tag + ">\n";
            std::string item;
            auto flush = [&] {
                if (!item.empty()) body += "<li>" + Inline(item) + "</li>\n";
                item.clear();
            };
            for (; i < lines.size(); ++i) {
                const std::string_view l = Trim(lines[i]);
                if (l.empty()) break;
                const std::size_t skip = bullet ? (StartsWith(l, "- ") ? 2 : 0) : numbered(l);
                if (skip) {
                    flush();
                    item = std::string(l.substr(skip));
                } else {
                    item += " " + std::string(l); // a continuation line of the item
                }
            }
            flush();
            body += std::string("</") + tag + ">\n";
            continue;
        }
        std::string paragraph;
        for (; i < lines.size(); ++i) {
            const std::string_view l = Trim(lines[i]);
            if (l.empty() || l[0] == '#' || l[0] == '|' || StartsWith(l, "```") ||
                StartsWith(l, "![") || StartsWith(l, "- "))
                break;
            if (!paragraph.empty()) paragraph += ' ';
            paragraph += l;
        }
        body += "<p>" + Inline(paragraph) + "</p>\n";
    }
    return {kHead + HtmlEscape(title) + kStyle + body + "</body>\n</html>\n", {}};
}

#include "HelpPage.h"

#include "settings/ContactIdTable.h"

#include <cstdio>

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

std::string ThreeDigits(int code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", code);
    return buf;
}

// A text of one blank is a present but empty description; show it as an empty cell.
std::string Cell(std::string_view text) {
    return text == " " ? "&nbsp;" : HtmlEscape(text);
}

} // namespace

void WriteHelpPage(std::ostream& out) {
    out << R"(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Коды событий Contact ID — ТОРВИК-7</title>
<style>
body { font-family: sans-serif; margin: 2em auto; max-width: 60em; padding: 0 1em; color: #222; }
h1 { font-size: 1.5em; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #e8e8e8; }
tr:nth-child(even) td { background: #f6f6f6; }
td.code { font-family: monospace; white-space: nowrap; }
</style>
</head>
<body>
<h1>Коды событий Contact ID</h1>
<p>Прибор ТОРВИК-7 передаёт на пульт централизованного наблюдения трёхзначный код
события Contact ID, заданный для каждого типа шлейфа на вкладке «Коды событий».
Код 000 выключает доставку извещения. Коды, которых нет в таблице, не
зарегистрированы в таблице кодов формата Contact ID.</p>
<table>
<thead>
<tr><th>Код</th><th>Описание (англ.)</th><th>Описание (рус.)</th></tr>
</thead>
<tbody>
)";
    for (std::size_t i = 0; i < EventTableSize(); ++i) {
        const EventEntry& e = EventTableEntry(i);
        const std::string code = ThreeDigits(e.code);
        out << "<tr id=\"code-" << code << "\"><td class=\"code\">" << code << "</td><td>"
            << Cell(e.english) << "</td><td>" << Cell(e.russian) << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n<p>Всего кодов: " << EventTableSize()
        << ".</p>\n</body>\n</html>\n";
}

#include "card/SettingsCard.h"

#include "fields/RecordFields.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QString>
#include <QTextDocument>

namespace {

// A4 in points; the card is laid out on it and scaled onto whatever page prints it.
constexpr double kPageWidth = 595.28;
constexpr double kPageHeight = 841.89;
constexpr double kMargin = 42.5; // 15 mm
// Up to this many loop type ranges are told one a line with their descriptions.
constexpr int kFullRanges = 40;
// A group of more ranges than this is given in the field table's short form.
constexpr int kFullGroupRanges = 16;

const char kTable[] = "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"1\">\n";

// Text for the page; a run of blanks (a foreign byte string may hold one) keeps its width.
std::string Escape(const std::string& text) {
    std::string out;
    char previous = 0;
    for (const char c : text) {
        if (c == ' ' && previous == ' ') {
            out += "&nbsp;";
            continue;
        }
        previous = c;
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
        default:
            out += c;
        }
    }
    return out;
}

// A value as the card prints it: out-of-range values stand out, never hidden.
std::string Value(const Shown& s) {
    return s.valid ? Escape(s.text) : "<b>" + Escape(s.text) + "</b>";
}

std::string Row(const std::string& label, const std::string& valueHtml) {
    return "<tr><td width=\"30%\">" + Escape(label) + "</td><td>" + valueHtml + "</td></tr>\n";
}

std::string Item(const std::string& label, const std::string& valueHtml) {
    return Escape(label) + ": " + valueHtml;
}

// A label as a list of settings needs it, shortened where its value says the rest:
// "Реле ПЦН 1, тип" with "тип 1 (…)" prints as "Реле ПЦН 1: тип 1 (…)", and "Тип 2, код
// события" with "код 131 — …" as "Тип 2: код 131 — …".
std::string ShortLabel(const std::string& label, const std::string& value) {
    const std::size_t comma = label.rfind(", ");
    if (comma == std::string::npos) return label;
    const std::string tail = label.substr(comma + 2);
    const std::string word = tail.substr(0, tail.find(' '));
    return value.rfind(word + " ", 0) == 0 ? label.substr(0, comma) : label;
}

const Field* FieldOf(Section section) {
    for (const auto& f : RecordFields())
        if (f.section == section) return &f;
    return nullptr;
}

// Cells laid out in `columns` columns, filled down first.
std::string Columns(const std::vector<std::string>& cells, int columns) {
    const int rows = (static_cast<int>(cells.size()) + columns - 1) / columns;
    std::string out = kTable;
    for (int row = 0; row < rows; ++row) {
        out += "<tr>";
        for (int c = 0; c < columns; ++c) {
            const int i = c * rows + row;
            // A gap before the next column: a long range never runs into its neighbour.
            const std::string gap = c + 1 < columns ? " style=\"padding-right:10px\"" : "";
            out += "<td valign=\"top\" width=\"" + std::to_string(100 / columns) + "%\"" + gap +
                   ">" + (i < static_cast<int>(cells.size()) ? cells[i] : std::string()) + "</td>";
        }
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

// Every setting of a section; a run of settings (the nine phones) entry by entry.
std::string SettingsTable(const SettingsRecord& r, Section section, int columns) {
    std::vector<std::string> cells;
    for (const auto& f : RecordFields()) {
        if (f.section != section) continue;
        for (int i = 0; i < f.count; ++i) {
            const Shown value = Detail(f, r, i);
            cells.push_back(Item(ShortLabel(Label(f, i), value.text), Value(value)));
        }
    }
    return Columns(cells, columns);
}

// The loop types, consecutive loops of one type merged. A few ranges are told in full,
// each with its type's description; many (loops of ever-changing types) go one expander a
// line with type numbers only, the descriptions standing once in the event codes.
std::string TypeRanges(const SettingsRecord& r) {
    const Field* f = FieldOf(Section::LoopTypes);
    if (!f) return {};
    const auto type = [&](int n) { return f->shown(r, n).text; };
    const std::vector<Run> runs = Runs(f->count, type);
    std::vector<std::string> lines;
    if (static_cast<int>(runs.size()) <= kFullRanges) {
        for (const Run run : runs)
            lines.push_back(Item(LoopRange(run.first, run.last), Value(Detail(*f, r, run.first))));
        return Columns(lines, 1);
    }
    bool anyInvalid = false;
    for (int e = 0; e < kExpanderCount; ++e) {
        const int base = e * kLoopsPerExpander;
        std::string line = "Расширитель " + std::to_string(e) + ": ";
        bool first = true;
        for (const Run run : Runs(kLoopsPerExpander, [&](int l) { return type(base + l); })) {
            // An out-of-range type keeps its number and a mark, explained once below.
            const Shown shown = f->shown(r, base + run.first);
            const std::string number = shown.text.substr(0, shown.text.find(' '));
            line += (first ? "" : "; ") + std::to_string(run.first + 1) +
                    (run.last > run.first ? "–" + std::to_string(run.last + 1) : "") + " → " +
                    (shown.valid ? Escape(number) : "<b>" + Escape(number) + "!</b>");
            anyInvalid = anyInvalid || !shown.valid;
            first = false;
        }
        lines.push_back(line);
    }
    return "<p>Расширитель: шлейфы → тип; описания типов — в разделе «" +
           std::string(SectionTitle(Section::EventCodes)) + "»." +
           (anyInvalid ? " <b>!</b> — недопустимое значение типа (допустимы 1..16)." : "") +
           "</p>\n" + Columns(lines, 2);
}

// The groups, consecutive groups of the same members merged: "Группы 1–16: нет шлейфов". A
// group of scattered members is given in the short form of the field table, "расширитель/
// шлейфы" ("0/1,3,5,7; 1/2-4"), so even the most scattered groups take a few lines each.
std::string GroupsTable(const SettingsRecord& r) {
    const Field* f = FieldOf(Section::Groups);
    if (!f) return {};
    std::vector<std::string> lines;
    bool shortForm = false;
    for (const Run run : Runs(f->count, [&](int g) { return f->shown(r, g).text; })) {
        const std::string label =
            run.first == run.last
                ? Label(*f, run.first)
                : "Группы " + std::to_string(run.first + 1) + "–" + std::to_string(run.last + 1);
        std::string members = GroupRanges(r, run.first);
        if (std::count(members.begin(), members.end(), ';') >= kFullGroupRanges) {
            members = f->shown(r, run.first).text;
            shortForm = true;
        }
        lines.push_back(Item(label, Escape(members)));
    }
    return (shortForm ? "<p>Запись «4/1-3,5» — расширитель 4, шлейфы 1–3 и 5.</p>\n"
                      : std::string()) +
           Columns(lines, 1);
}

std::string Heading(const std::string& text) {
    return "<p style=\"font-size:11pt; font-weight:bold; margin-top:6px; margin-bottom:1px\">" +
           Escape(text) + "</p>\n";
}

std::string SectionHtml(const SettingsRecord& r, Section section) {
    std::string body;
    switch (section) {
    case Section::LoopTypes:
        body = TypeRanges(r);
        break;
    case Section::Groups:
        body = GroupsTable(r);
        break;
    case Section::EventCodes:
        body = SettingsTable(r, section, 1);
        break;
    default:
        body = SettingsTable(r, section, 2);
    }
    return Heading(SectionTitle(section)) + body;
}

} // namespace

std::string SourceText(const CardSource& s) {
    switch (s.kind) {
    case CardSource::Kind::Defaults:
        return "заводские настройки («Новые»)";
    case CardSource::Kind::File:
        return "файл " + s.fileName;
    case CardSource::Kind::Device:
        return "считаны из прибора: порт " + s.port + ", адрес ТОРВИК-7 в СЛ " +
               std::to_string(s.lineAddress) + ", адрес ГРЕМУС " + std::to_string(s.unitAddress) +
               ", " + s.readAt;
    case CardSource::Kind::Journal:
        return s.journalEntry;
    case CardSource::Kind::Unknown:
        break;
    }
    return "не указано";
}

std::string HalfWrittenText(int blocksWritten) {
    return "Прибор записан не полностью: " + std::to_string(blocksWritten) + " блоков из 512";
}

CardSource JournalCardSource(const std::string& localTime, int blocksWritten) {
    CardSource source;
    source.kind = CardSource::Kind::Journal;
    source.journalEntry = "строка журнала от " + localTime;
    source.blocksWritten = blocksWritten;
    return source;
}

std::string LoopRange(int first, int last) {
    const int e1 = first / kLoopsPerExpander, l1 = first % kLoopsPerExpander + 1;
    const int e2 = last / kLoopsPerExpander, l2 = last % kLoopsPerExpander + 1;
    const std::string dash = "–";
    if (e1 == e2) {
        const std::string head = "Расширитель " + std::to_string(e1);
        if (l1 == l2) return head + ", шлейф " + std::to_string(l1);
        return head + ", шлейфы " + std::to_string(l1) + dash + std::to_string(l2);
    }
    if (l1 == 1 && l2 == kLoopsPerExpander)
        return "Расширители " + std::to_string(e1) + dash + std::to_string(e2) + ", шлейфы 1" +
               dash + std::to_string(kLoopsPerExpander);
    return "Расширитель " + std::to_string(e1) + ", шлейф " + std::to_string(l1) + " " + dash +
           " расширитель " + std::to_string(e2) + ", шлейф " + std::to_string(l2);
}

std::string GroupRanges(const SettingsRecord& r, int group) {
    const auto member = [&](int n) {
        return (r.loopGroups[group][n / kLoopsPerExpander] >> (n % kLoopsPerExpander) & 1) != 0;
    };
    std::string out;
    for (const Run run : Runs(kLoopCount, member)) {
        if (!member(run.first)) continue;
        if (!out.empty()) out += "; ";
        out += LoopRange(run.first, run.last);
    }
    return out.empty() ? "нет шлейфов" : out;
}

std::string CardHtml(const SettingsRecord& r, const CardInfo& info) {
    std::string account;
    for (const auto& f : RecordFields())
        if (std::string_view(f.key) == "accountNumber") account = Value(f.shown(r, 0));

    std::string out = "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>Карточка настроек ТОРВИК-7</title>\n";
    out += "</head>\n<body style=\"font-family:'DejaVu Sans',sans-serif; font-size:9pt\">\n"
           "<p style=\"font-size:14pt; font-weight:bold; margin-top:0; margin-bottom:4px\">"
           "Карточка настроек ТОРВИК-7 (ПЕНКО-РС исп.3)</p>\n";
    out += kTable;
    out += Row("Номер объекта (адрес ПЕНКО-РС)", "<b>" + account + "</b>");
    out += Row("Откуда настройки", Escape(SourceText(info.source)));
    if (info.source.blocksWritten >= 0)
        out += Row("Внимание", "<b>" + Escape(HalfWrittenText(info.source.blocksWritten)) +
                                   ": в приборе смесь старых и новых настроек</b>");
    out += Row("Программа", "Утилита настройки ТОРВИК-7, версия " TORVIK7_VERSION);
    out += Row("Дата печати", Escape(info.printedAt));
    out += "</table>\n";
    for (const Section s : {Section::General, Section::Phones, Section::LoopTypes, Section::Relays,
                            Section::Groups, Section::EventCodes})
        out += SectionHtml(r, s);
    // Filled in by hand at the object: where the device stands, and both signatures.
    out += "<p style=\"font-size:10pt; margin-top:16px\">Объект (название, адрес): "
           "____________________________________________________</p>\n"
           "<p style=\"font-size:10pt; margin-top:10px\">"
           "______________________________________________________________________</p>\n";
    out += "<p style=\"font-size:10pt; margin-top:16px\">Настройки записал: "
           "______________________&nbsp;&nbsp;&nbsp;"
           "Дата ______________</p>\n"
           "<p style=\"font-size:10pt; margin-top:10px\">Подпись заказчика: "
           "______________________&nbsp;&nbsp;&nbsp;"
           "Дата ______________</p>\n</body>\n</html>\n";
    return out;
}

std::unique_ptr<QTextDocument> CardDocument(const SettingsRecord& r, const CardInfo& info) {
    auto doc = std::make_unique<QTextDocument>();
    // Laid out in points whatever the screen: fonts are measured on a 72 dpi device, so the
    // page counts are the same on every machine and under every printer.
    static QImage points = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(2835); // 72 dpi
        image.setDotsPerMeterY(2835);
        return image;
    }();
    doc->documentLayout()->setPaintDevice(&points);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(9);
    doc->setDefaultFont(font);
    doc->setDocumentMargin(kMargin);
    doc->setHtml(QString::fromStdString(CardHtml(r, info)));
    doc->setPageSize(QSizeF(kPageWidth, kPageHeight));
    // A page that comes loose from the rest still says whose it is.
    const std::size_t account = FieldLength(r.accountNumber);
    doc->setProperty(
        kPageFootProperty,
        QStringLiteral("Карточка настроек ТОРВИК-7, объект %1")
            .arg(account > 0 ? QString::fromLatin1(r.accountNumber, static_cast<qsizetype>(account))
                             : QStringLiteral("—")));
    return doc;
}

void PrintPages(const QTextDocument& document, QPagedPaintDevice* device) {
    const QString foot = document.property(kPageFootProperty).toString();
    if (foot.isEmpty()) {
        document.print(device);
        return;
    }
    QPainter painter(device);
    if (!painter.isActive()) return;
    // The document is laid out in points on its page; each page is scaled onto the device's.
    const QSizeF page = document.pageSize();
    const double sx = device->width() / page.width(), sy = device->height() / page.height();
    const int pages = document.pageCount();
    QFont font = document.defaultFont();
    font.setPixelSize(8); // points: the painter is in the document's units
    for (int n = 0; n < pages; ++n) {
        if (n > 0) device->newPage();
        painter.save();
        painter.scale(sx, sy);
        const QRectF view(0, n * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        const double margin = document.documentMargin();
        const QRectF footArea(margin, page.height() - margin + 10, page.width() - 2 * margin, 14);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(footArea, Qt::AlignLeft | Qt::AlignTop, foot);
        painter.drawText(footArea, Qt::AlignRight | Qt::AlignTop,
                         QStringLiteral("стр. %1 из %2").arg(n + 1).arg(pages));
        painter.restore();
    }
}

bool WriteCardPdf(const SettingsRecord& r, const CardInfo& info, const QString& path,
                  std::string& error, int* pages) {
    const auto doc = CardDocument(r, info);
    // Written beside and put in place whole, so a failure never leaves half a card where a
    // good one was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = "не удаётся записать файл " + path.toStdString() + ": " +
                file.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter pdf(&file);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        pdf.setTitle(QStringLiteral("Карточка настроек ТОРВИК-7"));
        pdf.setCreator(QStringLiteral("Утилита настройки ТОРВИК-7 " TORVIK7_VERSION));
        PrintPages(*doc, &pdf);
    }
    if (file.size() == 0 || !file.commit()) {
        error = "не удаётся записать файл " + path.toStdString() + ": " +
                file.errorString().toStdString();
        return false;
    }
    if (pages) *pages = doc->pageCount();
    return true;
}

bool WriteCardHtml(const SettingsRecord& r, const CardInfo& info, const QString& path,
                   std::string& error) {
    QSaveFile file(path);
    const std::string html = CardHtml(r, info);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(html.data(), static_cast<qint64>(html.size())) !=
            static_cast<qint64>(html.size()) ||
        !file.commit()) {
        error = "не удаётся записать файл " + path.toStdString() + ": " +
                file.errorString().toStdString();
        return false;
    }
    return true;
}

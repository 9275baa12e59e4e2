// The settings card: a record on paper for the object's documents and the acceptance act.
// It walks the one table of fields, merges consecutive loops of one type (and the members
// of a group) into ranges, and lays the result out for A4 as PDF or HTML. No widgets.
#pragma once

#include "settings/SettingsRecord.h"

#include <memory>
#include <string>
#include <vector>

class QPagedPaintDevice;
class QString;
class QTextDocument;

// Where the record came from, for the card's header.
struct CardSource {
    enum class Kind { Unknown, Defaults, File, Device, Journal };
    Kind kind = Kind::Unknown;
    std::string fileName;     // File: the name as the title shows it
    std::string port;         // Device: the port it was read on
    int lineAddress = 0;      // Device
    int unitAddress = 0;      // Device
    std::string readAt;       // Device: when, "07.12.2026 12:30"
    std::string journalEntry; // Journal: how the entry names itself
    // Journal: a write stopped part-way, the blocks of 512 that went into the device;
    // -1 for anything else.
    int blocksWritten = -1;
};

// "Прибор записан не полностью: 257 блоков из 512": what a stopped write's record carries
// wherever it goes.
std::string HalfWrittenText(int blocksWritten);

// A journal entry's record: `localTime` "07.12.2026 12:30:00", `blocksWritten` as above.
CardSource JournalCardSource(const std::string& localTime, int blocksWritten);

struct CardInfo {
    CardSource source;
    std::string printedAt; // "07.12.2026 12:31"
};

// The header's line on the record's origin: "Файл: object.stg", "Считаны из прибора: ...".
std::string SourceText(const CardSource& source);

// A run of loops 0..511 as the operator reads it: "Расширитель 0, шлейфы 1–8",
// "Расширители 0–63, шлейфы 1–8", "Расширитель 2, шлейф 3",
// "Расширитель 0, шлейф 4 – расширитель 2, шлейф 5".
std::string LoopRange(int first, int last);

// Consecutive indices 0..count-1 whose keys are equal, as [first, last] pairs.
struct Run {
    int first;
    int last;
};
template <typename Key> std::vector<Run> Runs(int count, Key key) {
    std::vector<Run> runs;
    for (int i = 0; i < count; ++i) {
        if (!runs.empty() && key(runs.back().last) == key(i))
            runs.back().last = i;
        else
            runs.push_back({i, i});
    }
    return runs;
}

// The members of group g (0..15) as ranges joined by "; ", or "нет шлейфов".
std::string GroupRanges(const SettingsRecord& r, int group);

// The card as one HTML page (UTF-8), the same markup the PDF is laid out from.
std::string CardHtml(const SettingsRecord& r, const CardInfo& info);

// The card laid out on A4 pages (needs a QGuiApplication for its fonts). Each page's foot
// names the object and says "стр. N из M" when printed by PrintPages.
std::unique_ptr<QTextDocument> CardDocument(const SettingsRecord& r, const CardInfo& info);

// A document's property: the text PrintPages puts at the foot of each page.
inline constexpr char kPageFootProperty[] = "pageFoot";

// Prints a paged document onto `device`, a page each: with the foot `document` carries (left)
// and "стр. N из M" (right) at the bottom of every page; as QTextDocument::print without one.
void PrintPages(const QTextDocument& document, QPagedPaintDevice* device);

// Writes the card; false with `error` set when the file cannot be written. `pages` gets
// the number of pages written.
bool WriteCardPdf(const SettingsRecord& r, const CardInfo& info, const QString& path,
                  std::string& error, int* pages = nullptr);
bool WriteCardHtml(const SettingsRecord& r, const CardInfo& info, const QString& path,
                   std::string& error);

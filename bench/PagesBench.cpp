// How long the loop types and loop groups trees take to rebuild after a change, on the
// widgets the operator sees: the loop tree after a single-loop assignment (582 items,
// two branches opened), and the groups tree with every loop in every group (8192 member
// items, the changed group opened). Prints the fastest, median and slowest of each, with
// and without the repaint that follows.
#include "BenchTiming.h"
#include "pages/Events.h"
#include "pages/Loops.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The type menu is never opened here; the platform is only needed to exist.
class NoPlatform : public Platform {
public:
    MessageAnswer ShowMessage(QWidget*, const Message&) override { return MessageAnswer::Yes; }
    std::optional<FileChoice> SaveFileDialog(QWidget*) override { return std::nullopt; }
    std::optional<FileChoice> OpenFileDialog(QWidget*) override { return std::nullopt; }
    int ShellOpen(const QString&) override { return 0; }
    QPoint CursorPos() override { return {}; }
    int TrackPopupMenu(QWidget*, const std::vector<MenuItem>&, const QPoint&) override { return 0; }
    int OpenHelp(QWidget*, const QString&, const QString&) override { return 0; }
    std::optional<FileChoice> SaveCardDialog(QWidget*, const QString&) override {
        return std::nullopt;
    }
    void PrintPreview(QWidget*, const QTextDocument&) override {}
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    NoPlatform platform;
    SetPlatform(&platform);
    constexpr int kRuns = 40;

    static SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    FillDefaults(record);

    Loops loops;
    loops.m_record = &record;
    loops.resize(480, 400);
    loops.EnsureCreated();
    loops.show();
    QApplication::processEvents();
    int turn = 0;
    auto selectLoop = [&] {
        QTreeWidget* tree = loops.Tree();
        tree->topLevelItem(0)->child(37)->child(4)->setSelected(true);
        QApplication::processEvents();
    };
    Report("loop tree: assign one loop (rebuild + expand)",
           Time(kRuns, selectLoop, [&] { loops.AssignType(1 + turn++ % 16); }));
    Report("loop tree: assign one loop, then repaint", Time(kRuns, selectLoop, [&] {
               loops.AssignType(1 + turn++ % 16);
               loops.repaint();
           }));
    auto selectAll = [&] { loops.Tree()->topLevelItem(0)->setSelected(true); };
    auto assign = [&] { loops.AssignType(1 + turn++ % 16); };
    Report("loop tree: whole device (512 loops, rebuild)", Time(kRuns, selectAll, assign));

    std::memset(record.loopGroups, 0xFF, sizeof record.loopGroups);
    Events events;
    events.m_record = &record;
    events.resize(480, 400);
    events.EnsureCreated();
    events.show();
    QApplication::processEvents();
    Report("groups tree: 16 x 512 members, rebuild + expand",
           Time(
               kRuns, [] {}, [&] { events.Rebuild(1 + turn++ % 16); }));
    Report("groups tree: 16 x 512 members, rebuild, then repaint",
           Time(
               kRuns, [] {},
               [&] {
                   events.Rebuild(1 + turn++ % 16);
                   events.repaint();
               }));
    int items = 0;
    for (int g = 0; g < 16; ++g)
        items += events.Tree()->topLevelItem(0)->child(g)->childCount();
    std::printf("member items in the groups tree: %d\n", items);
    SetPlatform(nullptr);
    return 0;
}

// Shared by the page tests: a record with factory defaults, shown pages, tree walking and
// real mouse input on the offscreen platform.
#pragma once

#include "settings/SettingsRecord.h"
#include "support/ScriptedPlatform.h"

#include <QApplication>
#include <QTest>
#include <QTreeWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

// Readable failures: QString as its UTF-8 text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

inline std::unique_ptr<SettingsRecord> DefaultRecord() {
    auto r = std::make_unique<SettingsRecord>();
    std::memset(r.get(), 0, sizeof *r);
    FillDefaults(*r);
    return r;
}

inline std::vector<std::uint8_t> Bytes(const SettingsRecord& r) {
    const auto b = RecordBytes(r);
    return {b.begin(), b.end()};
}

template <class Page> void ShowPage(Page& page, SettingsRecord& record) {
    page.m_record = &record;
    page.resize(460, 380);
    page.EnsureCreated();
    page.show();
    QApplication::processEvents();
}

// Every expanded item, as its text, in tree order.
inline QStringList ExpandedTexts(const QTreeWidget* tree) {
    QStringList out;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
        if (item->isExpanded()) out << item->text(0);
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i));
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        walk(tree->topLevelItem(i));
    return out;
}

// Selects an item as the operator does with the left button: the item must be visible.
inline void LeftClick(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    const QRect r = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
}

// A right-click as the windowing system delivers it: press and release reach the window,
// which turns the press into the context-menu event. The menu shows up in the scripted
// platform.
inline void RightClick(QTreeWidget* tree, QTreeWidgetItem* item) {
    QPoint pos(5, 5);
    if (item) {
        tree->scrollToItem(item);
        pos = tree->visualItemRect(item).center();
    }
    QWidget* top = tree->window();
    QWindow* window = top->windowHandle();
    const QPoint inWindow = tree->viewport()->mapTo(top, pos);
    QTest::mousePress(window, Qt::RightButton, {}, inWindow);
    QTest::mouseRelease(window, Qt::RightButton, {}, inWindow);
    QApplication::processEvents();
}

inline QTreeWidgetItem* Selected(const QTreeWidget* tree) {
    const auto items = tree->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
}

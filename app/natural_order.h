#pragma once
// Names in the order people expect: letter case ignored, runs of digits compared as numbers
// ("img2" before "img10"), by the user's language (English when the locale is plain C).

#include <QByteArray>
#include <QCollator>
#include <QString>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrelle {

QCollator naturalCollator();

// Sorts items that carry `shownName` (QString) and `name` (the raw bytes, which break ties so the
// order never depends on the listing's order).
template <typename Item>
void sortNaturally(std::vector<Item>& items) {
    const QCollator collator = naturalCollator();
    struct Keyed {
        QCollatorSortKey key;
        Item item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(items.size());
    for (Item& item : items) keyed.push_back({collator.sortKey(item.shownName), std::move(item)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : a.item.name < b.item.name;
    });
    items.clear();
    for (Keyed& entry : keyed) items.push_back(std::move(entry.item));
}

}  // namespace kestrelle

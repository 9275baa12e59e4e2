#include "journal/JournalObjects.h"

#include <map>

JournalObject::Agreement JournalObject::Agree() const {
    if (!write || !read) return Agreement::Unknown;
    return write->sha256 == read->sha256 ? Agreement::Same : Agreement::Different;
}

std::vector<JournalObject> JournalObjects(const std::vector<JournalEntry>& entries) {
    std::map<QString, JournalObject> objects;
    for (const JournalEntry& e : entries) {
        if (e.account.isEmpty() || e.result != 0 || e.halfWritten || !e.RecordKept()) continue;
        std::optional<JournalEntry>* slot = nullptr;
        if (e.action == JournalAction::Write) slot = &objects[e.account].write;
        if (e.action == JournalAction::Read) slot = &objects[e.account].read;
        if (!slot) continue;
        // The later one counts; at the same second, the one the journal kept later.
        if (!*slot || (*slot)->time < e.time || ((*slot)->time == e.time && (*slot)->id < e.id))
            *slot = e;
        objects[e.account].account = e.account;
    }
    std::vector<JournalObject> out;
    out.reserve(objects.size());
    for (auto& [account, object] : objects)
        out.push_back(std::move(object));
    return out;
}

QString AgreementText(JournalObject::Agreement agreement) {
    switch (agreement) {
    case JournalObject::Agreement::Same:
        return QStringLiteral("да");
    case JournalObject::Agreement::Different:
        return QStringLiteral("нет");
    case JournalObject::Agreement::Unknown:
        break;
    }
    return QStringLiteral("-");
}

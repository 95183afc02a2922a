#include "core/sync/card_merge.h"

namespace ostrel::sync {

namespace {

constexpr int kNoteField = kCardFieldCount - 1; // 补充信息

QString conflictNote(int field, const QString& value)
{
    return QString::fromUtf8(kConflictLabel) + cardFields()[static_cast<size_t>(field)].importTitleText() + u'「' + value + u'」';
}

void addNote(QString& notes, const QString& note)
{
    // A merge repeated after a refused upload must not note the same value twice.
    if (notes.contains(note))
        return;
    if (!notes.isEmpty())
        notes += u'；';
    notes += note;
}

} // namespace

MergedCard mergeCard(const CardValues* base, const CardValues& local, const CardValues& remote, bool localLater)
{
    MergedCard merged;
    QStringList notes;
    for (int i = 0; i < kCardFieldCount; ++i) {
        const QString& mine = local[static_cast<size_t>(i)];
        const QString& theirs = remote[static_cast<size_t>(i)];
        QString& out = merged.values[static_cast<size_t>(i)];
        if (mine == theirs) {
            out = mine;
        } else if (base && mine == (*base)[static_cast<size_t>(i)]) {
            out = theirs;
        } else if (base && theirs == (*base)[static_cast<size_t>(i)]) {
            out = mine;
        } else {
            ++merged.conflicts;
            out = localLater ? mine : theirs;
            notes << conflictNote(i, localLater ? theirs : mine);
        }
    }
    for (const QString& note : notes)
        addNote(merged.values[kNoteField], note);
    return merged;
}

} // namespace ostrel::sync

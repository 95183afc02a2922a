#pragma once
#include "core/card_fields.h"

#include <QString>
#include <QStringList>

namespace ostrel::sync {

// The label a conflicting value is kept under in 补充信息.
inline constexpr char kConflictLabel[] = "同步冲突：";

struct MergedCard {
    CardValues values;
    int conflicts = 0; // fields changed on both sides to different values
};

// Merges a card changed here (local) and on the server (remote) field by field against the
// values both sides last agreed on (base; null when they never agreed, so every difference
// is a conflict). A field changed on one side only takes that side's value. Where both
// changed it differently, the later change (localLater) wins and the other value is added
// to 补充信息 as "同步冲突：<field>「<value>」", so no value is ever dropped.
MergedCard mergeCard(const CardValues* base, const CardValues& local, const CardValues& remote, bool localLater);

} // namespace ostrel::sync

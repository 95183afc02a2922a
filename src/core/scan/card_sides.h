#pragma once
#include "core/scan/field_extractor.h"

#include <QImage>

namespace ostrel {

// A card whose two sides were read apart (a Chinese front and an English back, say): the
// front with what the back adds. A field the front left empty takes the back's value with the
// back's confidence; a field both sides hold keeps the front's value, and a different value of
// the back goes to 补充信息 under the field's caption ("单位名称：Xingchen Technology Co., Ltd."),
// as does what the back read into no field. Only what the front holds already is left out.
ScannedCard withBackSide(const ScannedCard& front, const ScannedCard& back);

// Whether an image the reader found no text on still shows something (a logo, a pattern: a
// card's back) rather than being a blank page.
bool showsMarks(const QImage& image);

} // namespace ostrel

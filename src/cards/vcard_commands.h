#pragma once
#include <cstdint>
#include <vector>

class QWidget;

namespace ostrel {

class Query;
class TfrmDM;

// 导入vCard…: adds the cards of a .vcf file the user chooses, as the workbook import adds
// rows (query runs its look-ups). Returns whether cards may have been added.
bool importVCardFile(TfrmDM& dm, QWidget* parent, Query& query);

// 导出vCard…: writes the cards with these IDs, in this order, as vCard 3.0 to a file the
// user chooses, reading them from the database a page at a time.
void exportVCardFile(TfrmDM& dm, QWidget* parent, const std::vector<int64_t>& cards);

} // namespace ostrel

#pragma once
// What the server engine's own sources share: reading the server's results. Not for use
// outside engine/postgres.
#include "engine/result_set.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string_view>
#include <vector>

struct pg_result;

namespace ostrel::postgres {

// Whether a column of this server type (pg_type.oid) holds numbers (or yes/no).
bool isNumericType(unsigned int type);

// A cell as the file engine gives it: a missing value is empty, yes/no is 1/0.
std::string_view cellText(const pg_result* result, int row, int column);
// Whether the cell holds a number or nothing, as the file engine would tell.
bool isNumberCell(const pg_result* result, int row, int column);

int64_t toInteger(std::string_view text);

QString trimmedMessage(const char* text);

// The values as a server array literal: {1,2,3}.
QByteArray arrayText(const std::vector<int64_t>& values);

QStringList columnNames(const pg_result* result);
void fillRows(const pg_result* result, ResultSet& rows);

} // namespace ostrel::postgres

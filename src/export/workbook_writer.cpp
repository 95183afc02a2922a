#include "workbook_writer.h"

#include "engine/engine_error.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace ostrel {

void cannotCreateWorkbook()
{
    throw EngineError(QString::fromUtf8(kCannotCreateWorkbook));
}

WorkbookWriter::WorkbookWriter(const XlsxWriterLibrary& library, const QString& folder)
    : m_lib(library), m_folder(folder), m_tmp(QFile::encodeName(folder))
{
    // Made here readable by the user alone; the library writes into it when closing.
    m_partial.setFileTemplate(QDir(folder).filePath(QStringLiteral(".ostrel-report-XXXXXX.xlsx")));
    if (!m_partial.open())
        cannotCreateWorkbook();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_tmp.data();
    options.use_zip64 = LXW_FALSE;
    m_workbook = m_lib.workbook_new_opt(QFile::encodeName(m_partial.fileName()).constData(), &options);
    if (!m_workbook)
        cannotCreateWorkbook();
    m_sheet = m_lib.workbook_add_worksheet(m_workbook, nullptr);
    if (!m_sheet)
        cannotCreateWorkbook();
}

WorkbookWriter::~WorkbookWriter()
{
    if (m_workbook)
        m_lib.lxw_workbook_free(m_workbook);
}

void WorkbookWriter::writeRow(int row, const std::vector<const char*>& values, const std::vector<FormatOp>& formats,
              const std::vector<size_t>& covering, const std::vector<Merge>& merges,
              const std::vector<QByteArray>& fontNames)
{
    int right = static_cast<int>(values.size()) - 1;
    for (const size_t op : covering)
        if (!formats[op].wholeColumns())
            right = std::max(right, formats[op].right);
    for (const Merge& m : merges)
        right = std::max(right, m.right);
    // The rows of a table share their settings: their formats are worked out once.
    if (covering != m_covering || right > static_cast<int>(m_rowFormats.size())) {
        m_covering = covering;
        m_rowFormats.assign(static_cast<size_t>(std::max(right, 0)), nullptr);
        for (int column = 1; column <= right; ++column) {
            Style style;
            for (const size_t op : covering)
                if (formats[op].covers(row, column))
                    style.apply(formats[op]);
            m_rowFormats[static_cast<size_t>(column - 1)] = format(style, fontNames);
        }
    }
    const auto r = static_cast<lxw_row_t>(row - 1);
    for (int column = 1; column <= right; ++column) {
        lxw_format* f = m_rowFormats[static_cast<size_t>(column - 1)];
        const char* value = column < static_cast<int>(values.size()) ? values[static_cast<size_t>(column)] : nullptr;
        const auto c = static_cast<lxw_col_t>(column - 1);
        const Merge* in = nullptr;
        for (const Merge& m : merges)
            if (column >= m.left && column <= m.right)
                in = &m;
        if (in && column == in->left) {
            check(m_lib.worksheet_merge_range(m_sheet, r, c, r, static_cast<lxw_col_t>(in->right - 1), value ? value : "", f));
        } else if (in) {
            // A merged cell shows its first cell's value only.
            if (f)
                check(m_lib.worksheet_write_blank(m_sheet, r, c, f));
        } else if (value && *value) {
            check(m_lib.worksheet_write_string(m_sheet, r, c, value, f));
        } else if (f) {
            check(m_lib.worksheet_write_blank(m_sheet, r, c, f));
        }
    }
}

void WorkbookWriter::check(lxw_error error)
{
    if (error != LXW_NO_ERROR)
        cannotCreateWorkbook();
}

lxw_format* WorkbookWriter::format(const Style& style, const std::vector<QByteArray>& fontNames)
{
    if (style.plain())
        return nullptr;
    lxw_format*& f = m_formats[style.key()];
    if (!f) {
        f = m_lib.workbook_add_format(m_workbook);
        if (!f)
            cannotCreateWorkbook();
        if (style.horizontal)
            m_lib.format_set_align(f, static_cast<uint8_t>(style.horizontal));
        if (style.vertical)
            m_lib.format_set_align(f, static_cast<uint8_t>(style.vertical));
        if (style.border)
            m_lib.format_set_border(f, static_cast<uint8_t>(style.border));
        if (style.bold)
            m_lib.format_set_bold(f);
        if (style.font >= 0)
            m_lib.format_set_font_name(f, fontNames[static_cast<size_t>(style.font)].constData());
        if (style.size > 0)
            m_lib.format_set_font_size(f, style.size);
    }
    return f;
}

void WorkbookWriter::prepare(const SheetSettings& settings, const QString& caption)
{
    // Widths, and what whole-column settings give the cells nobody wrote.
    std::map<int, Style> styles;
    for (const FormatOp& op : settings.formats)
        if (op.wholeColumns())
            for (int c = op.left; c <= op.right; ++c)
                styles[c].apply(op);
    std::map<int, int> columns = settings.widths;
    for (const auto& [column, style] : styles)
        columns.try_emplace(column, -1);
    for (const auto& [column, width] : columns) {
        const auto style = styles.find(column);
        check(m_lib.worksheet_set_column(m_sheet, static_cast<lxw_col_t>(column - 1), static_cast<lxw_col_t>(column - 1),
                                         width < 0 ? LXW_DEF_COL_WIDTH : width,
                                         style == styles.end() ? nullptr : format(style->second, settings.fontNames)));
    }
    if (settings.orientation)
        (*settings.orientation == xl::Landscape ? m_lib.worksheet_set_landscape : m_lib.worksheet_set_portrait)(m_sheet);
    if (!settings.footer.isNull())
        check(m_lib.worksheet_set_footer(m_sheet, (QStringLiteral("&C") + settings.footer).toUtf8().constData()));
    QByteArray title = caption.toUtf8();
    lxw_doc_properties properties{};
    properties.title = title.data();
    check(m_lib.workbook_set_properties(m_workbook, &properties));
}

void WorkbookWriter::close()
{
    lxw_workbook* workbook = std::exchange(m_workbook, nullptr); // closing frees it, whatever the outcome
    check(m_lib.workbook_close(workbook));
}

void WorkbookWriter::keep(const QString& path)
{
    // Renaming replaces the empty file that reserved the name.
    if (std::rename(QFile::encodeName(m_partial.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        cannotCreateWorkbook();
    m_partial.setAutoRemove(false);
}

} // namespace ostrel

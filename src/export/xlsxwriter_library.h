#pragma once
#include <xlsxwriter.h>

namespace ostrel {

// The libxlsxwriter functions the reports use, loaded on first use.
//
// libxlsxwriter zips through the system's minizip, and QuaZip (the workbook reader)
// exports functions of the same names with other arguments. Linked the ordinary way into
// one program, one of the two calls the other's and crashes. Loaded here with its own
// dependencies searched first (RTLD_DEEPBIND), libxlsxwriter keeps minizip and QuaZip
// keeps its own; the program must therefore not link libxlsxwriter itself.
#define OSTREL_XLSXWRITER_FUNCTIONS(X)                                                                                 \
    X(workbook_new_opt)                                                                                                \
    X(workbook_set_properties)                                                                                         \
    X(workbook_add_worksheet)                                                                                          \
    X(workbook_add_format)                                                                                             \
    X(workbook_close)                                                                                                  \
    X(lxw_workbook_free)                                                                                               \
    X(worksheet_set_column)                                                                                            \
    X(worksheet_merge_range)                                                                                           \
    X(worksheet_write_string)                                                                                          \
    X(worksheet_write_blank)                                                                                           \
    X(worksheet_set_landscape)                                                                                         \
    X(worksheet_set_portrait)                                                                                          \
    X(worksheet_set_footer)                                                                                            \
    X(format_set_align)                                                                                                \
    X(format_set_border)                                                                                               \
    X(format_set_bold)                                                                                                 \
    X(format_set_font_name)                                                                                            \
    X(format_set_font_size)                                                                                            \
    X(worksheet_write_number)                                                                                          \
    X(worksheet_insert_chart)                                                                                          \
    X(workbook_add_chart)                                                                                              \
    X(chart_add_series)                                                                                                \
    X(chart_series_set_categories)                                                                                     \
    X(chart_series_set_values)                                                                                         \
    X(chart_series_set_name_range)                                                                                     \
    X(chart_series_set_fill)                                                                                           \
    X(chart_series_set_line)                                                                                           \
    X(chart_title_set_name)                                                                                            \
    X(chart_legend_set_position)                                                                                       \
    X(chart_set_hole_size)

struct XlsxWriterLibrary {
#define OSTREL_XLSXWRITER_POINTER(name) decltype(&::name) name = nullptr;
    OSTREL_XLSXWRITER_FUNCTIONS(OSTREL_XLSXWRITER_POINTER)
#undef OSTREL_XLSXWRITER_POINTER
};

// Null when the library or one of its functions cannot be found.
const XlsxWriterLibrary* xlsxWriterLibrary();

} // namespace ostrel

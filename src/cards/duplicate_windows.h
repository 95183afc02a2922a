#pragma once
#include "core/duplicates/duplicate_finder.h"
#include "core/duplicates/duplicate_merge.h"

#include <QDialog>
#include <QHash>

#include <optional>
#include <unordered_map>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTableWidget;
class QTableWidgetItem;

namespace ostrel {

class Database;
class DuplicateGroupModel;

// What a search for duplicates found: the groups, strongest first, and how each card of them
// is named in the list ("张伟（华为技术有限公司）").
struct FoundDuplicates {
    std::vector<DuplicateGroup> groups;
    QHash<qint64, QString> labels; // a card gone meanwhile has none
    int64_t cards = 0; // the live cards searched
};

// Reads the live cards and groups them, with a progress dialog with 取消 over parent; the
// grouping runs on a thread of its own. Nothing when the user cancelled.
std::optional<FoundDuplicates> searchDuplicates(Database& db, QWidget* parent);

// The groups of probable duplicates, one per row, with their cards and reasons. 合并… opens
// the merge of the selected group, 不是重复 remembers it is none; either takes it off the list.
class TfrmDupList : public QDialog {
    Q_OBJECT
public:
    TfrmDupList(Database& db, FoundDuplicates found, QWidget* parent);
    ~TfrmDupList() override;

    QLabel* SummaryLabel;
    QTableView* GroupTable;
    QPushButton* MergeButton;
    QPushButton* NotDuplicateButton;
    QPushButton* CloseButton;

    void mergeSelected();
    void notDuplicateSelected();

signals:
    void cardsChanged();

private:
    int selectedRow() const;
    void showCount();

    Database& m_db;
    DuplicateGroupModel* m_model;
    int64_t m_cards;
};

// One group side by side, a column per card and a row per field, the rows whose values differ
// highlighted: the first row ticks the card kept, a differing row the value kept. The merged
// 补充信息 (the values not chosen added under their field's name) can be shortened before
// 合并; the merge itself is the card rules'.
class TfrmDupMerge : public QDialog {
    Q_OBJECT
public:
    // cards: at least two live cards as loadMergeCards read them.
    TfrmDupMerge(Database& db, std::vector<MergeCard> cards, QWidget* parent);

    QTableWidget* FieldTable;
    QPlainTextEdit* NoteEdit;
    QLabel* NoteBytesLabel;
    QPushButton* MergeButton;
    QPushButton* CancelButton;

    // The table's rows: the kept card, the fields, then the visit and anniversary counts.
    static constexpr int kKeptRow = 0;
    static int fieldRow(int field) { return field + 1; }

    // Chooses the value of a differing field's cell, or the kept card in the first row.
    void choose(int row, int column);
    void merge();

private:
    void fill();
    void showChoices();
    void showNoteBytes();
    void tellAfterError(const QString& message, const CardValues& values);

    Database& m_db;
    std::vector<MergeCard> m_cards;
    size_t m_kept;
    FieldChoice m_choice;
    QString m_generatedNote; // the 补充信息 last written from the choices
};

} // namespace ostrel

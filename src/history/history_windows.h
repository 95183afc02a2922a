#pragma once
#include "history_statements.h"
#include "app/date_box.h"

#include <QDialog>
#include <QString>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QHBoxLayout;
class QShowEvent;

namespace ostrel {

class DBGrid;
class GbkEdit;
class Query;
class TfrmDM;

// Opens a card from an overview row: the program's card editor, given by the opener.
using CardOpener = std::function<void(QWidget* owner, const QString& cardId)>;

// What distinguishes the visits of a card from its anniversaries.
struct CardRecordsTexts {
    const char* caption;        // GroupBox1 before the opener replaces it
    const char* entryCaption;   // GroupBox2 before the opener replaces it
    const char* dateLabel;
    const char* memoLabel;
    const char* removeItem;
    CardRecords records;        // the table the statements read and write
    const char* emptyMessage;
    const char* savedMessage;
    const char* removeQuestion;
    int width;
    int height;
    int memoWidth;              // 0: the grid's default
    bool hasKind;               // the visit kind box and the export button
};

// The records of one card: the list newest first, a new entry, removal after a question.
// Every way of closing announces cardsChanged, so the main window's counters follow.
class CardRecordsWindow : public QDialog {
    Q_OBJECT
public:
    CardRecordsWindow(const CardRecordsTexts& texts, TfrmDM& dm, QWidget* parent);

    void Ref();
    void BitBtn1Click();
    void D1Click();
    void done(int result) override;

    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QLabel* Lab_ID;
    QLabel* Label1;
    QLabel* Label4;
    GbkEdit* Edit1;
    GbkEdit* Edit2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    DBGrid* DBGrid1;
    QMenu* PopupMenu1;
    QAction* D1;
    Query* ADOQuery1;
    Query* ADOQuery2;

signals:
    void cardsChanged();

protected:
    void showEvent(QShowEvent* event) override;
    // The card ID goes into statements unquoted, so it must be a number.
    QString cardId() const;
    // The insert of the typed entry for this card.
    virtual QString insertSql() const = 0;

    const CardRecordsTexts& m_texts;
    QHBoxLayout* m_entryRow = nullptr;
    QHBoxLayout* m_buttonRow = nullptr;
};

class TfrmList : public CardRecordsWindow {
    Q_OBJECT
public:
    TfrmList(TfrmDM& dm, QWidget* parent);
    QLabel* Label2;
    QLabel* Label3;
    QComboBox* ComboBox1;
    QPushButton* BitBtn3;
    // Writes the list, titled with GroupBox1's caption, as a report workbook.
    void BitBtn3Click();

protected:
    QString insertSql() const override;
};

class TfrmJNR : public CardRecordsWindow {
    Q_OBJECT
public:
    TfrmJNR(TfrmDM& dm, QWidget* parent);

protected:
    QString insertSql() const override;
};

// What distinguishes the visit overview from the anniversary overview.
struct OverviewTexts {
    const char* caption;
    const char* checkCaption;
    const char* countCaption;
    DateForm form; // of the range boxes
};

// All visits or anniversaries of all cards, optionally in a range, opening a row's card.
class OverviewWindow : public QDialog {
    Q_OBJECT
public:
    // Without an opener a row opens nothing.
    OverviewWindow(const OverviewTexts& texts, TfrmDM& dm, QWidget* parent, CardOpener openCard);

    void myRef();
    void V1Click();

    QGroupBox* GroupBox1;
    QCheckBox* CheckBox1;
    GbkEdit* Edit1;
    QLabel* Label3;
    GbkEdit* Edit2;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* BitBtn3;
    DBGrid* DBGrid1;
    QLabel* Label1;
    QMenu* PopupMenu1;
    QAction* V1;
    Query* ADOQuery1;

protected:
    void showEvent(QShowEvent* event) override;
    virtual QString statement() const = 0;
    // Widens the memo column and hides myID after each run.
    virtual void arrangeColumns() = 0;

private:
    const OverviewTexts& m_texts;
    CardOpener m_openCard;
    // The statement read while the window was hidden, until an event has run: the showing
    // that follows at once reuses its rows.
    QString m_readBeforeShow;
};

class TfrmListV : public OverviewWindow {
    Q_OBJECT
public:
    TfrmListV(TfrmDM& dm, QWidget* parent, CardOpener openCard = {});

    // Beside the described buttons: 拜访统计, the charts of the main window's list.
    QPushButton* StatsButton;

signals:
    void statsRequested();

protected:
    QString statement() const override;
    void arrangeColumns() override;
};

class TfrmJNRV : public OverviewWindow {
    Q_OBJECT
public:
    TfrmJNRV(TfrmDM& dm, QWidget* parent, CardOpener openCard = {});

protected:
    QString statement() const override;
    void arrangeColumns() override;
};

} // namespace ostrel

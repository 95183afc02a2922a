#include "vcard_commands.h"

#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "card_statements.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "core/card_vcard.h"
#include "ui/common/wait_cursor.h"
#include "ui/common/window_parts.h"
#include "import_window.h"

#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStandardPaths>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace ostrel {

namespace {

// Far beyond any address book; a larger file is not read into memory.
constexpr qint64 kMaxFileBytes = qint64(256) << 20;
// Cards read from the database by one statement, and written to the file at once.
constexpr int kPageCards = 500;

const QString kFilter = QStringLiteral("vCard文件(*.vcf *.vcard);;所有文件(*)");

QStringList firstColumn(Database& db, const QString& sql)
{
    const ResultSet rows = db.select(sql);
    QStringList values;
    for (int r = 0; r < rows.rowCount(); ++r)
        values << rows.text(r, 0);
    return values;
}

// Cards read ahead on a second thread while the rows go into the database: reading a card
// and putting it in take about as long, and the machine has a core for each. A few batches
// are held at most.
class CardFeed {
public:
    explicit CardFeed(VCardReader& reader) : m_reader(reader), m_thread([this] { produce(); }) {}
    ~CardFeed()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    CardFeed(const CardFeed&) = delete;
    CardFeed& operator=(const CardFeed&) = delete;

    // The next card in the file's order; false after the last.
    bool next(CardValues& card)
    {
        if (m_at == m_batch.size()) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_ready.empty() || m_done; });
            if (m_error)
                std::rethrow_exception(m_error);
            if (m_ready.empty())
                return false;
            m_batch = std::move(m_ready.front());
            m_ready.pop_front();
            m_at = 0;
            m_changed.notify_all();
        }
        card = std::move(m_batch[m_at++]);
        return true;
    }

private:
    static constexpr size_t kBatch = 256;
    static constexpr size_t kBatches = 4;

    void produce()
    {
        try {
            bool last = false;
            while (!last) {
                std::vector<CardValues> batch(kBatch);
                size_t size = 0;
                while (size < kBatch && m_reader.next(batch[size]))
                    ++size;
                batch.resize(size);
                last = size < kBatch;
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_ready.size() < kBatches || m_stop; });
                if (m_stop)
                    return;
                if (!batch.empty())
                    m_ready.push_back(std::move(batch));
                m_done = last;
                m_changed.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
            m_done = true;
            m_changed.notify_all();
        }
    }

    VCardReader& m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<CardValues>> m_ready;
    bool m_done = false;
    bool m_stop = false;
    std::exception_ptr m_error;
    std::vector<CardValues> m_batch; // the consumer's own
    size_t m_at = 0;
    std::thread m_thread; // last: started when the rest is in place
};

} // namespace

bool importVCardFile(TfrmDM& dm, QWidget* parent, Query& query)
{
    const QString path = chooseOpenFile(parent, QStringLiteral("导入vCard"), kFilter);
    if (path.isEmpty())
        return false;
    QByteArray bytes;
    VCardLists lists;
    std::unique_ptr<VCardReader> reader;
    {
        const WaitCursor wait;
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly))
            throw EngineError(QStringLiteral("无法打开文件“%1”：%2").arg(QDir::toNativeSeparators(path), in.errorString()));
        if (in.size() > kMaxFileBytes)
            throw EngineError(QStringLiteral("vCard文件过大：超过 %1 MB，没有导入任何名片").arg(kMaxFileBytes >> 20));
        bytes = in.readAll();
        if (in.error() != QFileDevice::NoError)
            throw EngineError(QStringLiteral("无法读取文件“%1”：%2").arg(QDir::toNativeSeparators(path), in.errorString()));
        Database& db = dm.ADOConnection1;
        lists = {firstColumn(db, categoryNamesSql()), firstColumn(db, provinceNamesSql()), {}};
        // The editor's rule: the defaults apply when there is exactly one row of them.
        if (const QStringList defaults = firstColumn(db, defaultCategorySql()); defaults.size() == 1)
            lists.defaultCategory = defaults.first();
        reader = std::make_unique<VCardReader>(bytes, lists);
    }
    if (reader->status() == VCardFile::Empty) {
        showInfo(parent, QStringLiteral("所选文件是空的，没有可导入的名片。"));
        return false;
    }
    if (reader->status() == VCardFile::NotVCard) {
        showInfo(parent, QStringLiteral("所选文件不是vCard文件。"));
        return false;
    }
    if (reader->truncated())
        throw EngineError(QStringLiteral("vCard文件中的名片超过 %1 张，请分成几个文件导入；没有导入任何名片").arg(reader->count()));
    // The cards are read as the rows go in, so those of a large file are never all held.
    CardFeed feed(*reader);
    importCardRows(dm, parent, query, static_cast<int>(reader->count()), [&](int, CardValues& values) {
        if (!feed.next(values))
            values = {};
    });
    return true;
}

void exportVCardFile(TfrmDM& dm, QWidget* parent, const std::vector<int64_t>& cards)
{
    if (cards.empty()) {
        showInfo(parent, QStringLiteral("当前列表中没有名片，没有导出。"));
        return;
    }
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("名片-%1.vcf").arg(dateText(today())));
    const QString path = chooseSaveFile(parent, QStringLiteral("导出vCard"), suggested, kFilter);
    if (path.isEmpty())
        return;
    // Written beside the target and put in its place only when whole.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        throw EngineError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), out.errorString()));
    const int total = static_cast<int>(cards.size());
    std::unique_ptr<QProgressDialog> progress;
    if (total > kPageCards) {
        progress = cancellableProgress(parent, QStringLiteral("导出vCard"), QStringLiteral("正在导出名片……"), total);
    }
    int written = 0;
    QByteArray text;
    std::vector<CardValues> page;
    for (size_t start = 0; start < cards.size(); start += kPageCards) {
        const size_t count = std::min<size_t>(kPageCards, cards.size() - start);
        QVariantList ids;
        for (size_t i = 0; i < count; ++i)
            ids << QVariant::fromValue<qint64>(cards[start + i]);
        // The rows come in the engine's order; the file keeps the list's.
        std::unordered_map<int64_t, size_t> at;
        for (size_t i = 0; i < count; ++i)
            at.emplace(cards[start + i], i);
        page.assign(count, CardValues());
        std::vector<bool> found(count, false);
        dm.ADOConnection1.runBound(cardsByIdSql(static_cast<int>(count)), ids, [&](const Database::Row& row) {
            const size_t i = at.at(row.integer(0));
            found[i] = true;
            for (int c = 0; c < kCardFieldCount; ++c)
                page[i][static_cast<size_t>(c)] = row.text(c + 1);
        });
        text.resize(0); // keeps its room for the next page
        for (size_t i = 0; i < count; ++i)
            if (found[i]) {
                writeVCard(page[i], text);
                ++written;
            }
        if (out.write(text) != text.size())
            throw EngineError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), out.errorString()));
        if (progress) {
            progress->setValue(static_cast<int>(start + count));
            if (progress->wasCanceled()) {
                out.cancelWriting();
                progress.reset();
                showInfo(parent, QStringLiteral("导出vCard 已取消，没有写入文件。"));
                return;
            }
        }
    }
    if (!out.commit())
        throw EngineError(QStringLiteral("无法写入文件“%1”：%2").arg(QDir::toNativeSeparators(path), out.errorString()));
    progress.reset();
    showInfo(parent, QStringLiteral("已导出 %1 张名片到 %2").arg(written).arg(QDir::toNativeSeparators(path)));
}

} // namespace ostrel

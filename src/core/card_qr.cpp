#include "core/card_qr.h"

#include "core/card_vcard.h"

#include <qrencode.h>

#include <QByteArrayView>

#include <algorithm>
#include <memory>
#include <utility>

namespace ostrel {

namespace {

// ECI designator of UTF-8: without it a reader may take the bytes for Latin-1 or Shift JIS.
constexpr unsigned kUtf8Eci = 26;
constexpr int kQuietZone = 4;

// Which fields go first when the card does not fit: the lower the rank, the sooner. What a
// colleague at the desk wants is the phones, then who the person is at which company; the
// addresses can be looked up, the fax and home number matter least of the phones.
enum Rank { Note, Address, MinorPhone, Work, Phone, Mobile, Kept };

Rank rankOf(const CardField& field)
{
    static const std::pair<QByteArrayView, Rank> ranks[] = {
        {"BQQ", Note},        {"FAdd", Address},      {"DAdd", Address},    {"DCity", Address}, {"DArea", Address},
        {"DPos", Address},    {"DWWW", Address},      {"DFax", MinorPhone}, {"FPho", MinorPhone}, {"DPart", Work},
        {"DJob", Work},       {"BMail", Work},        {"DName", Work},      {"BPho", Phone},    {"DPho", Phone},
        {"BMob", Mobile}};
    for (const auto& [column, rank] : ranks)
        if (column == field.column)
            return rank;
    // The name, and the fields the contact vCard does not write.
    return Kept;
}

struct InputDeleter {
    void operator()(QRinput* input) const { QRinput_free(input); }
};
struct CodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

// The smallest code at level M holding the bytes behind the UTF-8 ECI header; null when
// none does up to the largest version.
std::unique_ptr<QRcode, CodeDeleter> encode(const QByteArray& bytes)
{
    std::unique_ptr<QRinput, InputDeleter> input(QRinput_new2(0, QR_ECLEVEL_M));
    if (!input || QRinput_appendECIheader(input.get(), kUtf8Eci) != 0
        || QRinput_append(input.get(), QR_MODE_8, static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData())) != 0)
        return nullptr;
    return std::unique_ptr<QRcode, CodeDeleter>(QRcode_encodeInput(input.get()));
}

// The fields that may be left out, in the order they go: by rank, the longest first.
std::vector<int> leavingOrder(const CardValues& card)
{
    std::vector<int> order;
    for (int i = 0; i < kCardFieldCount; ++i)
        if (rankOf(cardFields()[static_cast<size_t>(i)]) != Kept && !card[static_cast<size_t>(i)].isEmpty())
            order.push_back(i);
    auto bytes = [&](int i) { return card[static_cast<size_t>(i)].toUtf8().size(); };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const Rank ra = rankOf(cardFields()[static_cast<size_t>(a)]), rb = rankOf(cardFields()[static_cast<size_t>(b)]);
        return ra != rb ? ra < rb : bytes(a) > bytes(b);
    });
    return order;
}

} // namespace

CardQrCode cardQrCode(const CardValues& card)
{
    CardQrCode result;
    CardValues kept = card;
    const std::vector<int> order = leavingOrder(card);
    for (size_t left = 0;; ++left) {
        result.vcard.clear();
        writeContactVCard(kept, result.vcard);
        const auto code = encode(result.vcard);
        if (code && code->version <= kMaxCardQrVersion) {
            result.version = code->version;
            result.width = code->width;
            result.dark.resize(static_cast<size_t>(code->width) * static_cast<size_t>(code->width));
            for (size_t m = 0; m < result.dark.size(); ++m)
                result.dark[m] = (code->data[m] & 1) != 0;
            return result;
        }
        if (left == order.size())
            break;
        const size_t field = static_cast<size_t>(order[left]);
        kept[field].clear();
        result.leftOut << cardFields()[field].importTitleText();
    }
    result.vcard.clear();
    result.leftOut.clear();
    result.error = QStringLiteral("姓名太长，放不进手机能扫的二维码。");
    return result;
}

QImage CardQrCode::image(int moduleSize) const
{
    const int side = (width + 2 * kQuietZone) * moduleSize;
    QImage out(side, side, QImage::Format_Grayscale8);
    out.fill(Qt::white);
    if (!ok())
        return out;
    for (int y = 0; y < side; ++y) {
        const int row = y / moduleSize - kQuietZone;
        if (row < 0 || row >= width)
            continue;
        uchar* line = out.scanLine(y);
        for (int x = kQuietZone * moduleSize; x < side - kQuietZone * moduleSize; ++x)
            if (dark[static_cast<size_t>(row * width + x / moduleSize - kQuietZone)])
                line[x] = 0;
    }
    return out;
}

} // namespace ostrel

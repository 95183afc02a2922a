#include "formats/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace ostrel {

namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

} // namespace

bool isValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::optional<std::string> toUtf8(std::string_view text, const char* charset, bool lenient)
{
    Iconv cd("UTF-8", charset);
    if (!cd.ok())
        return std::nullopt;
    // Room for GB18030 (at most half again its bytes); grown when another charset needs more.
    std::string out(text.size() + text.size() / 2 + 16, '\0');
    char* source = const_cast<char*>(text.data());
    size_t sourceLeft = text.size();
    size_t written = 0;
    while (sourceLeft > 0) {
        char* target = out.data() + written;
        size_t targetLeft = out.size() - written;
        const size_t rc = iconv(cd.get(), &source, &sourceLeft, &target, &targetLeft);
        written = out.size() - targetLeft;
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG || targetLeft < 3) {
            out.resize(out.size() * 2);
            continue;
        }
        // An unreadable byte, or a character cut off at the end.
        if (!lenient)
            return std::nullopt;
        ++source;
        --sourceLeft;
        out.replace(written, 3, "\xEF\xBF\xBD");
        written += 3;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(written);
    return out;
}

} // namespace ostrel

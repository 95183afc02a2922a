#pragma once
// The bytes of an .xls file as the formula reader sees them: bounds-checked little-endian
// reads, and the streams of the compound file that holds the workbook. Every read past the
// data ends in damagedStructure().
#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::workbook {

// Throws the engine error of a file whose structure cannot be right.
[[noreturn]] void damagedStructure();

// Little-endian reads that never leave the bytes.
class Bytes {
public:
    explicit Bytes(std::string_view data) : m_data(data) {}
    size_t size() const { return m_data.size(); }
    uint8_t u8(size_t at) const
    {
        need(at, 1);
        return static_cast<uint8_t>(m_data[at]);
    }
    uint16_t u16(size_t at) const
    {
        need(at, 2);
        return static_cast<uint16_t>(u8(at) | (u8(at + 1) << 8));
    }
    uint32_t u32(size_t at) const { return u16(at) | (static_cast<uint32_t>(u16(at + 2)) << 16); }
    double f64(size_t at) const
    {
        need(at, 8);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = (bits << 8) | u8(at + static_cast<size_t>(i));
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    std::string_view sub(size_t at, size_t length) const
    {
        need(at, length);
        return m_data.substr(at, length);
    }

private:
    void need(size_t at, size_t length) const
    {
        if (at > m_data.size() || length > m_data.size() - at)
            damagedStructure();
    }
    std::string_view m_data;
};

// The streams of a compound file (the container of every .xls).
class CompoundFile {
public:
    explicit CompoundFile(std::string_view file) : m_file(file)
    {
        const uint16_t shift = m_file.u16(0x1E);
        if (shift != 9 && shift != 12)
            damagedStructure();
        m_sectorSize = size_t(1) << shift;
        if (m_file.u16(0x20) != 6)
            damagedStructure();
        m_miniCutoff = m_file.u32(0x38);
        const size_t sectors = m_file.size() / m_sectorSize + 1;

        // The sectors of the allocation table: 109 in the header, the rest in a chain.
        const uint32_t fatSectors = m_file.u32(0x2C);
        if (fatSectors > sectors)
            damagedStructure();
        std::vector<uint32_t> fatAt;
        for (uint32_t i = 0; i < std::min<uint32_t>(fatSectors, 109); ++i)
            fatAt.push_back(m_file.u32(0x4C + 4 * i));
        const size_t perSector = m_sectorSize / 4;
        uint32_t difat = m_file.u32(0x44);
        for (size_t hops = 0; fatAt.size() < fatSectors && difat < kMaxSector; ++hops) {
            if (hops > sectors)
                damagedStructure();
            const Bytes block(sector(difat));
            for (size_t i = 0; i + 1 < perSector && fatAt.size() < fatSectors; ++i)
                fatAt.push_back(block.u32(4 * i));
            difat = block.u32(4 * (perSector - 1));
        }
        if (fatAt.size() < fatSectors)
            damagedStructure();
        m_fat.reserve(fatAt.size() * perSector);
        for (uint32_t at : fatAt) {
            const Bytes block(sector(at));
            for (size_t i = 0; i < perSector; ++i)
                m_fat.push_back(block.u32(4 * i));
        }

        m_sectors = sectors;
        m_directory = chain(m_file.u32(0x30), m_fat, [this](uint32_t n) { return sector(n); }, m_sectorSize, m_sectors);
        m_miniFatStart = m_file.u32(0x3C);
    }

    // The stream of the first of the names found (without regard to case) among the
    // top-level entries; the empty text when there is none.
    std::string stream(std::initializer_list<std::u16string_view> names) const
    {
        const Bytes dir(m_directory);
        const size_t entries = dir.size() / 128;
        if (entries == 0 || dir.u8(0x42) != 5)
            damagedStructure();
        // The top-level entries are a tree below the root entry, by left and right sibling.
        std::vector<uint32_t> found(names.size(), kNone);
        std::vector<bool> seen(entries, false);
        std::vector<uint32_t> pending{dir.u32(0x4C)};
        while (!pending.empty()) {
            const uint32_t e = pending.back();
            pending.pop_back();
            if (e >= entries || seen[e])
                continue;
            seen[e] = true;
            const size_t at = size_t(e) * 128;
            pending.push_back(dir.u32(at + 0x44));
            pending.push_back(dir.u32(at + 0x48));
            const uint16_t nameBytes = dir.u16(at + 0x40);
            if (dir.u8(at + 0x42) != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            QString name;
            for (size_t c = 0; c + 2 < nameBytes; c += 2)
                name += QChar(dir.u16(at + c));
            size_t i = 0;
            for (std::u16string_view wanted : names) {
                if (found[i] == kNone
                    && name.compare(QStringView(wanted.data(), static_cast<qsizetype>(wanted.size())), Qt::CaseInsensitive) == 0)
                    found[i] = e;
                ++i;
            }
        }
        for (uint32_t e : found)
            if (e != kNone)
                return entryStream(dir, e);
        return {};
    }

private:
    static constexpr uint32_t kMaxSector = 0xFFFFFFFA; // above: free, end of chain and marks
    static constexpr uint32_t kNone = 0xFFFFFFFF;

    std::string_view sector(uint32_t n) const
    {
        const size_t at = (size_t(n) + 1) * m_sectorSize;
        if (n >= kMaxSector || at >= m_file.size())
            damagedStructure();
        // The last sector of a file may be cut short.
        return m_file.sub(at, std::min(m_sectorSize, m_file.size() - at));
    }

    // The bytes of a chain of blocks from `start`, following `table`. A chain longer than
    // the blocks there are runs in a circle.
    template <typename Block>
    static std::string chain(uint32_t start, const std::vector<uint32_t>& table, Block block, size_t blockSize,
                             size_t blocks, size_t wanted = SIZE_MAX)
    {
        std::string out;
        for (uint32_t n = start; n != 0xFFFFFFFE && out.size() < wanted;) {
            if (n >= table.size() || out.size() / blockSize >= blocks)
                damagedStructure();
            out.append(block(n));
            n = table[n];
        }
        return out;
    }

    std::string entryStream(const Bytes& dir, uint32_t e) const
    {
        const size_t at = size_t(e) * 128;
        const uint32_t start = dir.u32(at + 0x74);
        const uint64_t size = dir.u32(at + 0x78); // files of 4096-byte sectors keep more bits; a workbook never needs them
        if (size > m_file.size())
            damagedStructure();
        std::string data;
        if (size < m_miniCutoff) {
            // Small streams live in 64-byte blocks of the root entry's stream.
            const auto regular = [this](uint32_t n) { return sector(n); };
            const std::string mini = chain(dir.u32(0x74), m_fat, regular, m_sectorSize, m_sectors);
            const std::string miniFatBytes = chain(m_miniFatStart, m_fat, regular, m_sectorSize, m_sectors);
            const Bytes miniFat(miniFatBytes);
            std::vector<uint32_t> table(miniFat.size() / 4);
            for (size_t i = 0; i < table.size(); ++i)
                table[i] = miniFat.u32(4 * i);
            const Bytes blocks(mini);
            data = chain(start, table, [&](uint32_t n) { return blocks.sub(size_t(n) * 64, 64); }, 64, mini.size() / 64, size);
        } else {
            data = chain(start, m_fat, [this](uint32_t n) { return sector(n); }, m_sectorSize, m_sectors, size);
        }
        if (data.size() < size)
            damagedStructure();
        data.resize(size);
        return data;
    }

    Bytes m_file;
    size_t m_sectorSize = 512;
    size_t m_sectors = 0;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_miniFatStart = 0;
    std::vector<uint32_t> m_fat;
    std::string m_directory;
};

} // namespace ostrel::workbook

// The OLE2 compound file an .xls workbook is kept in: its sectors, FAT,
// directory and streams, read from the bytes at hand. Every read is bounded:
// the file is outside input and may be damaged or hostile. Used by the .xls
// reader only (xls_reader.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane::sheet::cfb {

// Little-endian fields, as both the compound file and BIFF8 store them.
inline std::uint16_t le16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

inline std::uint32_t le32(std::string_view bytes, std::size_t at) {
    return le16(bytes, at) | (static_cast<std::uint32_t>(le16(bytes, at + 2)) << 16);
}

inline double leDouble(std::string_view bytes, std::size_t at) {
    const std::uint64_t bits = le32(bytes, at) | (std::uint64_t{le32(bytes, at + 4)} << 32);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

constexpr std::uint32_t kLastSectorNumber = 0xFFFFFFFA;

struct DirectoryEntry {
    std::u16string name;
    std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
    std::uint32_t start = 0;
    std::uint32_t size = 0;
};

class CompoundFile {
  public:
    CompoundFile(const std::string& path, std::string bytes)
        : path_(path), bytes_(std::move(bytes)) {
        if (bytes_.size() < 512) damaged("文件头不完整");
        const unsigned shift = le16(bytes_, 30);
        if (shift != 9 && shift != 12) damaged("扇区大小错误");
        sectorSize_ = std::size_t{1} << shift;
        // The header fills the first sector (512 bytes of it used in version
        // 4). Some writers end the file inside its last sector: the rest
        // reads as zeros.
        if (bytes_.size() < sectorSize_) damaged("文件头不完整");
        sectorCount_ = (bytes_.size() - 1) / sectorSize_;
        bytes_.resize((sectorCount_ + 1) * sectorSize_, '\0');
        const std::string_view header = bytes_;  // only now: the resize may move the bytes
        miniCutoff_ = le32(header, 56);

        // The FAT's own sectors: 109 in the header, the rest in a chain of
        // DIFAT sectors, each ending with the next one's number.
        std::vector<std::uint32_t> fatSectors;
        for (std::size_t at = 76; at < 512; at += 4) fatSectors.push_back(le32(header, at));
        std::uint32_t difat = le32(header, 68);
        for (std::size_t steps = 0; difat < kLastSectorNumber; ++steps) {
            if (steps > sectorCount_) damaged("扇区链成环");
            const std::string_view data = sector(difat);
            for (std::size_t at = 0; at + 4 < sectorSize_; at += 4)
                fatSectors.push_back(le32(data, at));
            difat = le32(data, sectorSize_ - 4);
        }
        for (std::uint32_t number : fatSectors) {
            if (number >= kLastSectorNumber) continue;
            if (fat_.size() > sectorCount_) break;  // more FAT than sectors to describe
            const std::string_view data = sector(number);
            for (std::size_t at = 0; at < sectorSize_; at += 4) fat_.push_back(le32(data, at));
        }

        const std::string directory = chain(le32(header, 48), std::nullopt);
        for (std::size_t at = 0; at + 128 <= directory.size(); at += 128) {
            DirectoryEntry entry;
            entry.type = static_cast<std::uint8_t>(directory[at + 66]);
            const unsigned nameBytes = le16(directory, at + 64);
            if (entry.type != 0 && nameBytes > 64) damaged("目录项名称过长");
            for (unsigned k = 0; k + 1 < nameBytes && k < 64; k += 2) {
                const char16_t c = le16(directory, at + k);
                if (c == 0) break;
                entry.name += c;
            }
            entry.start = le32(directory, at + 116);
            entry.size = le32(directory, at + 120);
            entries_.push_back(std::move(entry));
        }
        if (entries_.empty() || entries_.front().type != 5) damaged("缺少根目录");
    }

    // The first stream named `name` (compared ignoring ASCII case).
    const DirectoryEntry* find(std::u16string_view name) const {
        for (const DirectoryEntry& entry : entries_) {
            if (entry.type != 2 || entry.name.size() != name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < name.size() && same; ++i) {
                char16_t a = entry.name[i], b = name[i];
                if (a >= 'a' && a <= 'z') a = static_cast<char16_t>(a - 32);
                if (b >= 'a' && b <= 'z') b = static_cast<char16_t>(b - 32);
                same = a == b;
            }
            if (same) return &entry;
        }
        return nullptr;
    }

    std::string stream(const DirectoryEntry& entry) {
        if (entry.size > bytes_.size()) damaged("数据流长度超出文件");
        if (entry.size >= miniCutoff_) return chain(entry.start, entry.size);
        // Small streams live in 64-byte pieces of the root's mini stream.
        if (!miniStream_) {
            miniStream_ = chain(entries_.front().start, std::nullopt);
            miniFat_.clear();
            const std::string miniFatBytes = chain(le32(bytes_, 60), std::nullopt);
            for (std::size_t at = 0; at + 4 <= miniFatBytes.size(); at += 4)
                miniFat_.push_back(le32(miniFatBytes, at));
        }
        std::string out;
        std::uint32_t piece = entry.start;
        for (std::size_t steps = 0; out.size() < entry.size; ++steps) {
            if (piece >= miniFat_.size() || steps > miniFat_.size()) damaged("短扇区链错误");
            const std::size_t at = std::size_t{piece} * 64;
            if (at + 64 > miniStream_->size()) damaged("短扇区超出范围");
            out.append(*miniStream_, at, 64);
            piece = miniFat_[piece];
        }
        out.resize(entry.size);
        return out;
    }

    [[noreturn]] void damaged(const std::string& detail) const {
        throw ListFileError(path_, "文件已损坏（复合文档" + detail + "）");
    }

  private:
    std::string_view sector(std::uint32_t number) const {
        if (number >= sectorCount_) damaged("扇区编号超出文件");
        return std::string_view(bytes_).substr((std::size_t{number} + 1) * sectorSize_,
                                               sectorSize_);
    }

    // The sectors chained from `first`: `size` bytes of them, or the whole
    // chain when the size is not known.
    std::string chain(std::uint32_t first, std::optional<std::size_t> size) const {
        std::string out;
        std::uint32_t number = first;
        for (std::size_t steps = 0; number < kLastSectorNumber; ++steps) {
            if (size && out.size() >= *size) break;
            if (steps > sectorCount_ || number >= fat_.size()) damaged("扇区链错误");
            out.append(sector(number));
            number = fat_[number];
        }
        if (size) {
            if (out.size() < *size) damaged("数据流不完整");
            out.resize(*size);
        }
        return out;
    }

    const std::string& path_;
    std::string bytes_;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;
    std::uint32_t miniCutoff_ = 4096;
    std::vector<std::uint32_t> fat_;
    std::vector<DirectoryEntry> entries_;
    std::optional<std::string> miniStream_;
    std::vector<std::uint32_t> miniFat_;
};

}  // namespace kelvane::sheet::cfb

#include "bench/tree_generator.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/listing_order.h"

namespace bench {

namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    long below(long bound) { return static_cast<long>(next() % static_cast<std::uint64_t>(bound)); }

  private:
    std::uint64_t state_;
};

constexpr std::array<const char*, 12> kWords = {"报告", "文件", "数据", "备份", "照片", "项目",
                                                "合同", "会议", "季度", "财务", "客户", "草稿"};
constexpr std::array<const char*, 8> kAsciiWords = {"report", "Data",  "final", "v2",
                                                    "copy",   "notes", "IMG",   "draft"};
constexpr std::array<const char*, 6> kExtensions = {".txt", ".docx", ".xlsx", ".jpg", ".pdf", ""};

// 2012-01-01 .. 2020-12-31 in UTC seconds.
constexpr std::int64_t kEarliest = 1325376000;
constexpr std::int64_t kSpan = 284083200;

[[noreturn]] void fail(const char* what, const std::string& path) {
    throw std::runtime_error(std::string(what) + " " + path + ": " + std::strerror(errno));
}

// A folder of the tree when only the names are wanted.
struct Node {
    std::string name;
    bool folder = false;
    std::vector<std::unique_ptr<Node>> entries;
};

// Every file under `node` in walk order: each folder's entries in listing order.
void listNames(const Node& node, const std::string& path, std::vector<std::string>& names) {
    base::detail::ListingCollector collector;
    for (const auto& entry : node.entries) collector.add(entry->name, entry->folder);
    std::vector<base::ListingEntry> ordered;
    collector.sortInto(ordered);
    for (const base::ListingEntry& entry : ordered) {
        if (!entry.isFolder) {
            names.push_back(path + "/" + entry.name);
            continue;
        }
        for (const auto& sub : node.entries) {
            if (sub->folder && sub->name == entry.name)
                listNames(*sub, path + "/" + entry.name, names);
        }
    }
}

class Generator {
  public:
    Generator(const TreeShape& shape) : random_(shape.seed), remaining_(shape.files) {}

    TreeSize run(const std::string& root) {
        const int top = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (top < 0) fail("cannot open", root);
        long index = 0;
        while (remaining_ > 0) fillFolder(top, root, 0, index++);
        ::close(top);
        return size_;
    }

    // The same draws as run(), the files and folders kept as nodes.
    std::vector<std::string> names() {
        Node root;
        root.folder = true;
        node_ = &root;
        long index = 0;
        while (remaining_ > 0) fillFolder(-1, {}, 0, index++);
        std::vector<std::string> names;
        names.reserve(static_cast<std::size_t>(size_.files));
        listNames(root, {}, names);
        return names;
    }

  private:
    // A name unique in its folder thanks to `index`, otherwise drawn at random.
    std::string name(long index, bool folder) {
        std::string text;
        if (random_.below(folder ? 50 : 30) == 0) text += '.';
        const long words = 1 + random_.below(3);
        for (long w = 0; w < words; ++w) {
            if (w > 0) text += random_.below(3) == 0 ? " " : "_";
            text += random_.below(3) == 0 ? kAsciiWords[random_.below(kAsciiWords.size())]
                                          : kWords[random_.below(kWords.size())];
        }
        switch (random_.below(12)) {
            case 0:
                text += " \"终\"";
                break;
            case 1:
                text += "'s";
                break;
            case 2:
                text += " (1)";
                break;
            default:
                break;
        }
        text += ' ';
        text += std::to_string(index);
        if (!folder) text += kExtensions[random_.below(kExtensions.size())];
        return text;
    }

    void makeFile(int folder, const std::string& folderPath, long index) {
        const std::string file = name(index, false);
        const off_t length =
            random_.below(8) == 0 ? random_.below(50'000'000) : random_.below(200'000);
        const std::int64_t modified = kEarliest + random_.below(kSpan);
        if (node_) {
            node_->entries.push_back(std::make_unique<Node>(Node{file, false, {}}));
        } else {
            const int fd =
                ::openat(folder, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) fail("cannot create", folderPath + "/" + file);
            if (::ftruncate(fd, length) != 0) fail("cannot size", folderPath + "/" + file);
            const struct timespec times[2] = {{static_cast<time_t>(modified), 0},
                                              {static_cast<time_t>(modified), 0}};
            if (::futimens(fd, times) != 0) fail("cannot set the time of", folderPath + "/" + file);
            ::close(fd);
        }
        ++size_.files;
        if (file.front() == '.') ++size_.hiddenFiles;
        --remaining_;
    }

    void fillFolder(int parent, const std::string& parentPath, int depth, long index) {
        const std::string folderName = name(index, true);
        const std::string path = parentPath + "/" + folderName;
        int folder = -1;
        Node* const parentNode = node_;
        if (node_) {
            node_->entries.push_back(std::make_unique<Node>(Node{folderName, true, {}}));
            node_ = node_->entries.back().get();
        } else {
            if (::mkdirat(parent, folderName.c_str(), 0755) != 0) fail("cannot create", path);
            folder = ::openat(parent, folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0) fail("cannot open", path);
        }
        ++size_.folders;

        // Mostly a handful of files; now and then a wide folder.
        long files = random_.below(20) == 0 ? 200 + random_.below(600) : random_.below(25);
        const long subfolders = depth >= 12 ? 0 : random_.below(depth < 2 ? 6 : 4);
        // Files and folders interleave, as the listing later sorts them anyway.
        long entry = 0;
        for (long s = 0; s <= subfolders && remaining_ > 0; ++s) {
            const long share = subfolders == 0 ? files : files / (subfolders + 1);
            for (long f = 0; f < share && remaining_ > 0; ++f) makeFile(folder, path, entry++);
            if (s < subfolders && remaining_ > 0) fillFolder(folder, path, depth + 1, entry++);
        }
        if (node_) {
            node_ = parentNode;
        } else {
            ::close(folder);
        }
    }

    Random random_;
    Node* node_ = nullptr;  // where names go when no files are made
    long remaining_;
    TreeSize size_;
};

}  // namespace

TreeSize generateTree(const std::string& root, const TreeShape& shape) {
    return Generator(shape).run(root);
}

std::vector<std::string> generateNames(const TreeShape& shape) {
    return Generator(shape).names();
}

namespace {

// nftw's callback has no context of its own.
std::vector<std::string>* shrunk = nullptr;
std::size_t shrunkRootLength = 0;

int shrinkOne(const char* path, const struct stat* info, int type, struct FTW*) {
    if (type != FTW_F) return 0;
    shrunk->emplace_back(path + shrunkRootLength);
    if (info->st_size >= 4096) {
        // Cutting the length moves the time; the generated one goes back.
        if (::truncate(path, info->st_size % 4096) != 0) return -1;
        const struct timespec times[2] = {info->st_atim, info->st_mtim};
        if (::utimensat(AT_FDCWD, path, times, 0) != 0) return -1;
    }
    return 0;
}

}  // namespace

std::vector<std::string> shrinkTree(const std::string& root) {
    std::vector<std::string> files;
    shrunk = &files;
    shrunkRootLength = root.size();
    if (::nftw(root.c_str(), shrinkOne, 64, FTW_PHYS) != 0)
        throw std::runtime_error("cannot shrink the tree under " + root);
    return files;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace bench

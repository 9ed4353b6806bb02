#include "memory_disk.h"

#include <algorithm>
#include <cstring>

namespace keldo::backup::sim {

namespace {
std::filesystem::path key(const std::filesystem::path& p) {
    return p.lexically_normal();
}
} // namespace

bool Countdown::fires() {
    if (firing) {
        return true;
    }
    if (remaining <= 0) {
        return false;
    }
    if (--remaining == 0) {
        firing = persistent;
        return true;
    }
    return false;
}

class MemoryFile : public TDiskFile {
public:
    MemoryFile(TMemoryDisk& disk, std::shared_ptr<TMemoryDisk::Bytes> bytes)
        : disk_(disk), bytes_(std::move(bytes)) {}

    std::int64_t write(const std::uint8_t* data, std::size_t size) override {
        if (disk_.failWrite.fires()) {
            return -1;
        }
        std::size_t allowed = size;
        if (disk_.capacity_ != 0) {
            allowed =
                position_ >= disk_.capacity_ ? 0 : std::min(size, disk_.capacity_ - position_);
        }
        if (bytes_->size() < position_ + allowed) {
            bytes_->resize(position_ + allowed);
        }
        std::memcpy(bytes_->data() + position_, data, allowed);
        if (allowed > 0 && disk_.corruptWrite.fires()) {
            (*bytes_)[position_ + allowed / 2] ^= 0x5A;
        }
        position_ += allowed;
        return static_cast<std::int64_t>(allowed);
    }

    std::int64_t read(std::uint8_t* data, std::size_t size) override {
        if (disk_.failRead.fires()) {
            return -1;
        }
        const std::size_t available = position_ >= bytes_->size() ? 0 : bytes_->size() - position_;
        const std::size_t n = std::min(size, available);
        std::memcpy(data, bytes_->data() + position_, n);
        position_ += n;
        return static_cast<std::int64_t>(n);
    }

    bool seekBack(std::size_t size) override {
        position_ = position_ > size ? position_ - size : 0;
        return true;
    }

    bool flush() override { return true; }

private:
    TMemoryDisk& disk_;
    std::shared_ptr<TMemoryDisk::Bytes> bytes_;
    std::size_t position_ = 0;
};

std::unique_ptr<TDiskFile> TMemoryDisk::create(const std::filesystem::path& file) {
    if (failCreate.fires()) {
        return nullptr;
    }
    created.push_back(key(file));
    auto bytes = std::make_shared<Bytes>();
    files_[key(file)] = bytes;
    return std::make_unique<MemoryFile>(*this, std::move(bytes));
}

std::unique_ptr<TDiskFile> TMemoryDisk::openForReading(const std::filesystem::path& file) {
    const auto it = files_.find(key(file));
    if (it == files_.end()) {
        return nullptr;
    }
    return std::make_unique<MemoryFile>(*this, it->second);
}

bool TMemoryDisk::exists(const std::filesystem::path& file) {
    return contains(file);
}

bool TMemoryDisk::createFolders(const std::filesystem::path& folder) {
    folders_.insert(key(folder));
    return true;
}

void TMemoryDisk::eraseFilesIn(const std::filesystem::path& folder) {
    const auto target = key(folder);
    for (auto it = files_.begin(); it != files_.end();) {
        it = it->first.parent_path() == target ? files_.erase(it) : std::next(it);
    }
}

bool TMemoryDisk::contains(const std::filesystem::path& file) const {
    return files_.count(key(file)) != 0;
}

TMemoryDisk::Bytes TMemoryDisk::bytes(const std::filesystem::path& file) const {
    const auto it = files_.find(key(file));
    return it == files_.end() ? Bytes{} : *it->second;
}

void TMemoryDisk::put(const std::filesystem::path& file, Bytes bytes) {
    files_[key(file)] = std::make_shared<Bytes>(std::move(bytes));
}

bool TMemoryDisk::replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    auto it = files_.find(key(from));
    if (it == files_.end())
        return false;
    auto bytes = it->second;
    files_.erase(it);
    files_[key(to)] = std::move(bytes);
    replaced.push_back(key(to));
    return true;
}

void TMemoryDisk::remove(const std::filesystem::path& file) {
    files_.erase(key(file));
}

std::vector<std::filesystem::path> TMemoryDisk::fileNames() const {
    std::vector<std::filesystem::path> names;
    for (const auto& [name, bytes] : files_) {
        names.push_back(name);
    }
    return names;
}

} // namespace keldo::backup::sim

#include "image/file_input.hpp"

namespace imgpack {

std::optional<FileInput> FileInput::open(const char* path) {
    auto file = platform::File::open_for_reading(path);
    if (!file) {
        return std::nullopt;
    }
    return FileInput(std::move(*file));
}

std::ptrdiff_t FileInput::read(std::span<char> dest) {
    return file_.read(dest);
}

bool FileInput::rewind() {
    return same_as_opened() && file_.rewind();
}

std::optional<std::uint64_t> FileInput::regular_size() const {
    return file_.regular_size();
}

std::ptrdiff_t FileInput::read_at(std::uint64_t offset, std::span<char> dest) const {
    return file_.read_at(offset, dest);
}

bool FileInput::same_as_opened() const {
    return opened_state_.has_value() && file_.state() == opened_state_;
}

bool FileInput::is_same_file(const char* path) const {
    return file_.is_same_file(path);
}

} // namespace imgpack

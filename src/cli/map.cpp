#include "cli/map.hpp"

#include "cli/reasons.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace imgpack {

namespace {

// Ranges listed before the rest are only counted: a map that scrolls off
// the screen shows nothing.
constexpr std::size_t max_range_lines = 40;
constexpr std::size_t picture_width = 64;

// An address of the image: 32 bits wide, wrapping as the image of a span
// from 0x80000000 up does.
unsigned address(std::uint32_t base, std::uint64_t offset) {
    return static_cast<std::uint32_t>(base + offset);
}

std::string range_line(std::uint32_t base, std::uint64_t offset, std::uint64_t length,
                       const char* what) {
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "0x%08X..0x%08X  %llu bytes%s\n", address(base, offset),
                  address(base, offset + length - 1), static_cast<unsigned long long>(length),
                  what);
    return text.data();
}

// The picture: how many bytes of each slice the records wrote.
class Picture {
  public:
    explicit Picture(std::size_t size)
        : size_(size), slices_(std::min(size, picture_width)), written_(slices_, 0) {}

    void add(std::size_t offset, std::size_t length) {
        while (length > 0) {
            const std::size_t slice = slice_of(offset);
            const std::size_t slice_end = start_of(slice + 1);
            const std::size_t taken = std::min(length, slice_end - offset);
            written_[slice] += taken;
            offset += taken;
            length -= taken;
        }
    }

    [[nodiscard]] std::string draw() const {
        std::string line = "[";
        for (std::size_t slice = 0; slice < slices_; ++slice) {
            const std::size_t length = start_of(slice + 1) - start_of(slice);
            line += written_[slice] == length ? '#' : written_[slice] == 0 ? '.' : ':';
        }
        return line + "]\n";
    }

  private:
    // Slice i covers the bytes from size * i / slices on.
    [[nodiscard]] std::size_t start_of(std::size_t slice) const {
        return static_cast<std::size_t>(std::uint64_t{size_} * slice / slices_);
    }
    [[nodiscard]] std::size_t slice_of(std::size_t offset) const {
        auto slice = static_cast<std::size_t>(std::uint64_t{offset} * slices_ / size_);
        while (start_of(slice + 1) <= offset) {
            ++slice;
        }
        return slice;
    }

    std::size_t size_;
    std::size_t slices_;
    std::vector<std::size_t> written_;
};

} // namespace

std::string image_map(const Coverage& written, std::uint32_t base) {
    std::string lines;
    Picture picture(written.size());
    std::uint64_t data_bytes = 0;
    std::size_t ranges = 0;
    std::size_t gaps = 0;
    std::size_t covered_to = 0;
    // A gap is listed with the range after it, or after the last range listed.
    const auto gap_before = [&](std::size_t offset, bool last) {
        if (offset > covered_to) {
            ++gaps;
            if (ranges < max_range_lines || (last && ranges == max_range_lines)) {
                lines += range_line(base, covered_to, offset - covered_to, " of fill");
            }
        }
    };
    written.for_each_run([&](std::size_t offset, std::size_t length) {
        gap_before(offset, false);
        if (ranges < max_range_lines) {
            lines += range_line(base, offset, length, "");
        }
        ++ranges;
        data_bytes += length;
        covered_to = offset + length;
        picture.add(offset, length);
    });
    gap_before(written.size(), true);
    if (ranges > max_range_lines) {
        lines += "... and " + count_of(ranges - max_range_lines, "more range") + "\n";
    }
    std::array<char, 96> image{};
    std::snprintf(image.data(), image.size(), "image 0x%08X..0x%08X, ", address(base, 0),
                  address(base, written.size() - 1));
    const std::string totals =
        image.data() + count_of(written.size(), "byte") + ": " + std::to_string(data_bytes) +
        " of data in " + count_of(ranges, "range") + ", " +
        std::to_string(written.size() - data_bytes) + " of fill in " + count_of(gaps, "gap") + "\n";
    return lines + totals + (written.size() > 0 ? picture.draw() : "");
}

} // namespace imgpack

// Windows: handles opened by wide (UTF-16) file names, positioned reads
// through OVERLAPPED offsets on a handle of their own, and the wide command
// line and console output, so that names outside the ANSI code page work.

#include "platform/platform.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <new>
#include <string>
#include <utility>
// windows.h must come before the other system headers that need its types.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace imgpack::platform {

namespace {

std::wstring widen(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    wide.pop_back(); // the terminating zero
    return wide;
}

std::string narrow(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

// Reads at most 1 GiB per call: the count is a 32-bit value.
DWORD chunk(std::size_t size) {
    return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
}

// The volume and the file's identifier on it name a file; st_ino is 0 on this
// platform. ReFS identifiers are 128 bits wide, and the 64-bit file index
// holds only part of them, so the whole identifier is compared where the
// system gives it (Windows 8 and later, on most file systems).
std::optional<FILE_ID_INFO> full_identity(HANDLE handle) {
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info) == 0) {
        return std::nullopt;
    }
    return info;
}

// Elsewhere, the volume serial number and the 64-bit file index.
std::optional<BY_HANDLE_FILE_INFORMATION> indexed_identity(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) {
        return std::nullopt;
    }
    return info;
}

bool same_identity(HANDLE one, HANDLE other) {
    const auto one_full = full_identity(one);
    const auto other_full = full_identity(other);
    if (one_full && other_full) {
        return one_full->VolumeSerialNumber == other_full->VolumeSerialNumber &&
               std::memcmp(&one_full->FileId, &other_full->FileId, sizeof one_full->FileId) == 0;
    }
    // Both identities must be of the same kind: the serial numbers of the
    // two kinds need not agree for one volume.
    const auto one_indexed = indexed_identity(one);
    const auto other_indexed = indexed_identity(other);
    return one_indexed && other_indexed &&
           one_indexed->dwVolumeSerialNumber == other_indexed->dwVolumeSerialNumber &&
           one_indexed->nFileIndexHigh == other_indexed->nFileIndexHigh &&
           one_indexed->nFileIndexLow == other_indexed->nFileIndexLow;
}

} // namespace

// A read at an OVERLAPPED offset moves the position of a handle opened
// without FILE_FLAG_OVERLAPPED; such reads get a handle of their own, so that
// read() keeps its place. A pipe or a device has no second handle and no
// positioned reads.
struct File::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE positioned = INVALID_HANDLE_VALUE; // only read_at() uses it
};

// The memory comes first, so that running out of it leaves no handle open.
File::File() : native_(std::make_unique<Native>()) {}

File::File(File&& other) noexcept = default;

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::move(other.native_);
    }
    return *this;
}

File::~File() {
    close();
}

std::optional<File> File::open_for_reading(const char* path) {
    File file;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory cannot be opened.
    file.native_->handle = CreateFileW(widen(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file.native_->handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    if (GetFileType(file.native_->handle) == FILE_TYPE_DISK) {
        file.native_->positioned =
            ReOpenFile(file.native_->handle, GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
        if (file.native_->positioned == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
    }
    return file;
}

std::optional<File> File::create_for_writing(const char* path) {
    File file;
    file.native_->handle = CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.native_->handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    return file;
}

std::ptrdiff_t File::read(std::span<char> dest) {
    DWORD count = 0;
    if (ReadFile(native_->handle, dest.data(), chunk(dest.size()), &count, nullptr) == 0) {
        // The writer of a pipe closing it is the end of the input, not an error.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t File::read_at(std::uint64_t offset, std::span<char> dest) const {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFU);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    if (native_->positioned == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return -1;
    }
    if (ReadFile(native_->positioned, dest.data(), chunk(dest.size()), &count, &at) == 0) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

bool File::rewind() {
    if (GetFileType(native_->handle) != FILE_TYPE_DISK) {
        return false; // a pipe or a device cannot go back
    }
    return SetFilePointerEx(native_->handle, LARGE_INTEGER{}, nullptr, FILE_BEGIN) != 0;
}

std::optional<std::uint64_t> File::regular_size() const {
    LARGE_INTEGER size{};
    if (GetFileType(native_->handle) != FILE_TYPE_DISK ||
        GetFileSizeEx(native_->handle, &size) == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<FileState> File::state() const {
    FILE_BASIC_INFO times{};
    LARGE_INTEGER size{};
    if (GetFileInformationByHandleEx(native_->handle, FileBasicInfo, &times, sizeof times) == 0 ||
        GetFileSizeEx(native_->handle, &size) == 0) {
        return std::nullopt;
    }
    // The times count 100-nanosecond intervals.
    return FileState{static_cast<std::uint64_t>(size.QuadPart), times.LastWriteTime.QuadPart * 100,
                     times.ChangeTime.QuadPart * 100};
}

bool File::is_same_file(const char* path) const {
    const HANDLE other =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool same = same_identity(native_->handle, other);
    CloseHandle(other);
    return same;
}

bool File::write_all(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (WriteFile(native_->handle, bytes.data(), chunk(bytes.size()), &written, nullptr) == 0) {
            return false;
        }
        if (written == 0) {
            // A device that takes nothing more reports no error of its own;
            // without one, the message would show an earlier call's reason.
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        bytes = bytes.subspan(written);
    }
    return true;
}

bool File::truncate() noexcept {
    const DWORD saved = GetLastError();
    const bool cut = SetFilePointerEx(native_->handle, LARGE_INTEGER{}, nullptr, FILE_BEGIN) != 0 &&
                     SetEndOfFile(native_->handle) != 0;
    SetLastError(saved);
    return cut;
}

std::optional<File> File::duplicate() const noexcept {
    try {
        File copy;
        HANDLE handle = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), native_->handle, GetCurrentProcess(), &handle, 0,
                            FALSE, DUPLICATE_SAME_ACCESS) == 0) {
            return std::nullopt;
        }
        copy.native_->handle = handle;
        return copy;
    } catch (const std::bad_alloc&) {
        return std::nullopt; // nothing was duplicated yet
    }
}

bool File::close() {
    if (!native_) {
        return true;
    }
    if (native_->positioned != INVALID_HANDLE_VALUE) {
        CloseHandle(std::exchange(native_->positioned, INVALID_HANDLE_VALUE));
    }
    if (native_->handle == INVALID_HANDLE_VALUE) {
        return true;
    }
    return CloseHandle(std::exchange(native_->handle, INVALID_HANDLE_VALUE)) != 0;
}

std::uint8_t* allocate_pages(std::size_t size) noexcept {
    return static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void release_pages(std::uint8_t* pages, std::size_t /*size*/) noexcept {
    VirtualFree(pages, 0, MEM_RELEASE);
}

std::string last_error_message() {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length == 0 ? "error " + std::to_string(error) : narrow(text);
    LocalFree(static_cast<HLOCAL>(text));
    // The system's text ends in a full stop and CR LF; a message goes on after it.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

namespace {

// A console shows the characters of wide text whatever its code page;
// anything else (a file, a pipe) gets the UTF-8 bytes unchanged.
void write_to(FILE* stream, DWORD console_id, std::string_view text) noexcept {
    const HANDLE handle = GetStdHandle(console_id);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0) {
        try {
            const std::wstring wide = widen(std::string(text).c_str());
            std::fflush(stream);
            DWORD written = 0;
            WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
            return;
        } catch (const std::bad_alloc&) {
            // The bytes as they are, below: better than no message.
        }
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

} // namespace

void print(std::string_view text) noexcept {
    write_to(stdout, STD_OUTPUT_HANDLE, text);
}

void print_error(std::string_view text) noexcept {
    write_to(stderr, STD_ERROR_HANDLE, text);
}

std::vector<std::string> start_program(int /*argc*/, char** /*argv*/) {
    // The narrow arguments are in the ANSI code page, which cannot hold every
    // file name: take the wide command line instead.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        arguments.push_back(narrow(wide[i]));
    }
    LocalFree(static_cast<HLOCAL>(wide));
    return arguments;
}

} // namespace imgpack::platform

// The file a WriteF call sends: opened through the platform (never waiting,
// regular files only) and measured before the first byte goes out.
#pragma once

#include <cstdint>
#include <cstdio>

class FileToSend {
public:
    FileToSend() = default;
    ~FileToSend();
    FileToSend(const FileToSend&) = delete;
    FileToSend& operator=(const FileToSend&) = delete;

    // False, with the platform's error number in *systemError, when the file
    // cannot be opened or is no regular file. Lengths reach the log and the
    // callers as 32-bit signed numbers, so a file of 2 GiB or more is
    // refused too (ERROR_FILE_TOO_LARGE).
    bool Open(const char* path, int* systemError);
    std::uint32_t Length() const { return length; }
    // Reads up to `size` bytes of the file's next piece; fewer only when the
    // file shrank after it was measured.
    std::uint32_t Read(unsigned char* buffer, std::uint32_t size);
    // Goes back to `offset` from the start, so that a transfer can send
    // again what a broken connection did not deliver. False when it cannot.
    bool Seek(std::uint32_t offset);

private:
    std::FILE* file = nullptr;
    std::uint32_t length = 0;
};

#include "comlayer/transfer/FileToSend.h"

#include "platform/send_file.h"
#include "platform/system.h"

FileToSend::~FileToSend() {
    if (file != nullptr) std::fclose(file);
}

bool FileToSend::Open(const char* path, int* systemError) {
    file = plat::OpenFileToSend(path);
    if (file == nullptr) {
        *systemError = static_cast<int>(plat::GetLastError());
        return false;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size > 0x7FFFFFFFL || std::fseek(file, 0, SEEK_SET) != 0) {
        *systemError = static_cast<int>(plat::kErrorFileTooLarge);
        return false;
    }
    length = static_cast<std::uint32_t>(size);
    return true;
}

std::uint32_t FileToSend::Read(unsigned char* buffer, std::uint32_t size) {
    return static_cast<std::uint32_t>(std::fread(buffer, 1, size, file));
}

bool FileToSend::Seek(std::uint32_t offset) {
    return offset <= length && std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

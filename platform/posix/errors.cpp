#include "platform/posix/errors.h"

#include <cerrno>

#include "platform/socket.h"
#include "platform/system.h"

namespace plat::posix {

namespace {
struct ErrorPair {
    int errnoValue;
    std::uint32_t windowsError;
    int wsaError;
};

constexpr ErrorPair kErrors[] = {
    {ENOENT, kErrorFileNotFound, kWsaEinval},
    {ENOTDIR, kErrorPathNotFound, kWsaEinval},
    {EACCES, kErrorAccessDenied, kWsaEacces},
    {EPERM, kErrorAccessDenied, kWsaEacces},
    {EBADF, kErrorInvalidHandle, kWsaEbadf},
    {ENOMEM, kErrorNotEnoughMemory, kWsaEnobufs},
    {EBUSY, kErrorSharingViolation, kWsaEaddrinuse},
    {EEXIST, kErrorAlreadyExists, kWsaEinval},
    {EINVAL, kErrorInvalidParameter, kWsaEinval},
    {ENAMETOOLONG, kErrorInvalidName, kWsaEinval},
    {ENOTSUP, kErrorNotSupported, kWsaEinval},
    {ENOTTY, kErrorNotSupported, kWsaEinval},
    {EIO, kErrorGenFailure, kWsaEinval},
    {ENODEV, kErrorDeviceNotConnected, kWsaEinval},
    {ENXIO, kErrorDeviceNotConnected, kWsaEinval},
    {ETIMEDOUT, kErrorTimeout, kWsaEtimedout},
    {EINTR, kErrorOperationAborted, kWsaEintr},
    {EAGAIN, kErrorTimeout, kWsaEwouldblock},
    {EINPROGRESS, kErrorIoPending, kWsaEinprogress},
    {EMFILE, kErrorNotEnoughMemory, kWsaEmfile},
    {ENOTSOCK, kErrorInvalidHandle, kWsaEnotsock},
    {EMSGSIZE, kErrorMoreData, kWsaEmsgsize},
    {EAFNOSUPPORT, kErrorNotSupported, kWsaEafnosupport},
    {EADDRINUSE, kErrorSharingViolation, kWsaEaddrinuse},
    {EADDRNOTAVAIL, kErrorInvalidParameter, kWsaEaddrnotavail},
    {ENETDOWN, kErrorGenFailure, kWsaEnetdown},
    {ENETUNREACH, kErrorGenFailure, kWsaEnetunreach},
    {ECONNABORTED, kErrorGenFailure, kWsaEconnaborted},
    {EPIPE, kErrorGenFailure, kWsaEconnaborted},
    {ECONNRESET, kErrorGenFailure, kWsaEconnreset},
    {ENOBUFS, kErrorNotEnoughMemory, kWsaEnobufs},
    {EISCONN, kErrorInvalidParameter, kWsaEisconn},
    {ENOTCONN, kErrorInvalidParameter, kWsaEnotconn},
    {ESHUTDOWN, kErrorGenFailure, kWsaEshutdown},
    {ECONNREFUSED, kErrorGenFailure, kWsaEconnrefused},
    {EHOSTUNREACH, kErrorGenFailure, kWsaEhostunreach},
    {EFAULT, kErrorInvalidParameter, kWsaEfault},
};

const ErrorPair* Find(int error) {
    for (const ErrorPair& pair : kErrors) {
        if (pair.errnoValue == error) return &pair;
    }
    return nullptr;
}
}  // namespace

std::uint32_t WindowsErrorFromErrno(int error) {
    if (error == 0) return kErrorSuccess;
    const ErrorPair* pair = Find(error);
    return pair != nullptr ? pair->windowsError : kErrorGenFailure;
}

int WsaErrorFromErrno(int error) {
    if (error == 0) return 0;
    const ErrorPair* pair = Find(error);
    return pair != nullptr ? pair->wsaError : kWsaEinval;
}

void SetLastErrorFromErrno(int error) {
    SetLastError(WindowsErrorFromErrno(error));
}

}  // namespace plat::posix

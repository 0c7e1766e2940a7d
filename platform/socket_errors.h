// The socket error codes the system knows, in Winsock's numbering on every
// platform: one list, from which the kError constants, the POSIX side's
// errno mapping and the error-name lookups are all made.
#pragma once

// X(constant, code, Winsock's name, the errno that POSIX reports for it or
// kNoErrno, whether the socket library's own name table holds the code).
// Only posix.cpp expands the errno column, so its names need not exist
// elsewhere.
#define TESSARD_SOCKET_ERRORS(X)                                                               \
  X(kErrorInvalidHandle, 6, "WSA_INVALID_HANDLE", kNoErrno, true)                              \
  X(kErrorNotEnoughMemory, 8, "WSA_NOT_ENOUGH_MEMORY", kNoErrno, true)                         \
  X(kErrorInvalidParameter, 87, "WSA_INVALID_PARAMETER", kNoErrno, true)                       \
  X(kErrorOperationAborted, 995, "WSA_OPERATION_ABORTED", kNoErrno, true)                      \
  X(kErrorIoPending, 997, "WSA_IO_PENDING", kNoErrno, true)                                    \
  X(kErrorInterrupted, 10004, "WSAEINTR", EINTR, true)                                         \
  X(kErrorAccessDenied, 10013, "WSAEACCES", EACCES, false)                                     \
  X(kErrorFault, 10014, "WSAEFAULT", EFAULT, true)                                             \
  X(kErrorInvalidArgument, 10022, "WSAEINVAL", EINVAL, true)                                   \
  X(kErrorTooManyFiles, 10024, "WSAEMFILE", EMFILE, false)                                     \
  X(kErrorWouldBlock, 10035, "WSAEWOULDBLOCK", EAGAIN, true)                                   \
  X(kErrorInProgress, 10036, "WSAEINPROGRESS", EINPROGRESS, true)                              \
  X(kErrorAlready, 10037, "WSAEALREADY", EALREADY, false)                                      \
  X(kErrorNotSocket, 10038, "WSAENOTSOCK", ENOTSOCK, true)                                     \
  X(kErrorDestinationRequired, 10039, "WSAEDESTADDRREQ", EDESTADDRREQ, false)                  \
  X(kErrorMessageSize, 10040, "WSAEMSGSIZE", EMSGSIZE, true)                                   \
  X(kErrorProtocolType, 10041, "WSAEPROTOTYPE", EPROTOTYPE, false)                             \
  X(kErrorNoProtocolOption, 10042, "WSAENOPROTOOPT", ENOPROTOOPT, false)                       \
  X(kErrorProtocolNotSupported, 10043, "WSAEPROTONOSUPPORT", EPROTONOSUPPORT, false)           \
  X(kErrorSocketTypeNotSupported, 10044, "WSAESOCKTNOSUPPORT", ESOCKTNOSUPPORT, false)         \
  X(kErrorOperationNotSupported, 10045, "WSAEOPNOTSUPP", EOPNOTSUPP, true)                     \
  X(kErrorProtocolFamilyNotSupported, 10046, "WSAEPFNOSUPPORT", EPFNOSUPPORT, false)           \
  X(kErrorAddressFamilyNotSupported, 10047, "WSAEAFNOSUPPORT", EAFNOSUPPORT, false)            \
  X(kErrorAddressInUse, 10048, "WSAEADDRINUSE", EADDRINUSE, false)                             \
  X(kErrorAddressNotAvailable, 10049, "WSAEADDRNOTAVAIL", EADDRNOTAVAIL, false)                \
  X(kErrorNetworkDown, 10050, "WSAENETDOWN", ENETDOWN, true)                                   \
  X(kErrorNetworkUnreachable, 10051, "WSAENETUNREACH", ENETUNREACH, false)                     \
  X(kErrorNetworkReset, 10052, "WSAENETRESET", ENETRESET, true)                                \
  X(kErrorConnectionAborted, 10053, "WSAECONNABORTED", ECONNABORTED, false)                    \
  X(kErrorConnectionReset, 10054, "WSAECONNRESET", ECONNRESET, true)                           \
  X(kErrorNoBuffers, 10055, "WSAENOBUFS", ENOBUFS, false)                                      \
  X(kErrorIsConnected, 10056, "WSAEISCONN", EISCONN, true)                                     \
  X(kErrorNotConnected, 10057, "WSAENOTCONN", ENOTCONN, true)                                  \
  X(kErrorShutdown, 10058, "WSAESHUTDOWN", ESHUTDOWN, true)                                    \
  X(kErrorTimedOut, 10060, "WSAETIMEDOUT", ETIMEDOUT, true)                                    \
  X(kErrorConnectionRefused, 10061, "WSAECONNREFUSED", ECONNREFUSED, false)                    \
  X(kErrorHostDown, 10064, "WSAEHOSTDOWN", EHOSTDOWN, false)                                   \
  X(kErrorHostUnreachable, 10065, "WSAEHOSTUNREACH", EHOSTUNREACH, false)                      \
  X(kErrorNotInitialised, 10093, "WSANOTINITIALISED", kNoErrno, true)                          \
  X(kErrorDisconnected, 10101, "WSAEDISCON", kNoErrno, true)                                   \
  X(kErrorSystemCallFailure, 10107, "WSASYSCALLFAILURE", kNoErrno, false)

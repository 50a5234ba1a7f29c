// Windows Sockets 2 over the system's sockets. A SOCKET is the descriptor
// itself; sockets are never inherited by child processes, a send to a closed
// peer fails with an error instead of a signal, and WSAGetLastError is the
// thread's last error. Constants carry Windows' values (AF_INET6 is 23 here).
//
// Not for files that also include the C library's socket headers: the names
// are the same, the types are not. Such files take winsock_types.h.
#pragma once

#include <cstddef>

#include "platform/win32/kernel32/lasterror.h"
#include "platform/win32/layer/types.h"
#include "platform/win32/ws2_32/winsock_types.h"


#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define TCP_NODELAY 0x0001
#define SOL_SOCKET 0xffff
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2
#define FIONBIO (static_cast<long>(0x8004667EL))
#define INADDR_NONE 0xffffffffUL
#define AI_PASSIVE 0x0001
#define AI_CANONNAME 0x0002
#define AI_NUMERICHOST 0x0004

#define POLLERR 0x0001
#define POLLHUP 0x0002
#define POLLNVAL 0x0004
#define POLLWRNORM 0x0010
#define POLLOUT POLLWRNORM
#define POLLRDNORM 0x0100
#define POLLRDBAND 0x0200
#define POLLIN (POLLRDNORM | POLLRDBAND)

#define WSA_NOT_ENOUGH_MEMORY 8L
#define WSAEINTR 10004L
#define WSAEBADF 10009L
#define WSAEACCES 10013L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEMFILE 10024L
#define WSAEWOULDBLOCK 10035L
#define WSAEINPROGRESS 10036L
#define WSAEALREADY 10037L
#define WSAENOTSOCK 10038L
#define WSAEMSGSIZE 10040L
#define WSAENOPROTOOPT 10042L
#define WSAEPROTONOSUPPORT 10043L
#define WSAESOCKTNOSUPPORT 10044L
#define WSAEOPNOTSUPP 10045L
#define WSAEAFNOSUPPORT 10047L
#define WSAEADDRINUSE 10048L
#define WSAEADDRNOTAVAIL 10049L
#define WSAENETDOWN 10050L
#define WSAENETUNREACH 10051L
#define WSAENETRESET 10052L
#define WSAECONNABORTED 10053L
#define WSAECONNRESET 10054L
#define WSAENOBUFS 10055L
#define WSAEISCONN 10056L
#define WSAENOTCONN 10057L
#define WSAESHUTDOWN 10058L
#define WSAETIMEDOUT 10060L
#define WSAECONNREFUSED 10061L
#define WSAEHOSTUNREACH 10065L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSATYPE_NOT_FOUND 10109L
#define WSAHOST_NOT_FOUND 11001L
#define WSATRY_AGAIN 11002L
#define WSANO_RECOVERY 11003L
#define WSANO_DATA 11004L

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

struct WSABUF {
  ULONG len;
  CHAR* buf;
};
using LPWSABUF = WSABUF*;

struct WSAOVERLAPPED;
using LPWSAOVERLAPPED = WSAOVERLAPPED*;
using LPWSAOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD, DWORD, LPWSAOVERLAPPED, DWORD);

struct SOCKADDR {
  USHORT sa_family;
  CHAR sa_data[14];
};
using PSOCKADDR = SOCKADDR*;

struct IN_ADDR {
  union {
    struct {
      UCHAR s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    ULONG S_addr;
  } S_un;
};

struct SOCKADDR_IN {
  short sin_family;
  USHORT sin_port;
  IN_ADDR sin_addr;
  CHAR sin_zero[8];
};

struct ADDRINFOA {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  std::size_t ai_addrlen;
  char* ai_canonname;
  SOCKADDR* ai_addr;
  ADDRINFOA* ai_next;
};
using PADDRINFOA = ADDRINFOA*;

struct HOSTENT {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

struct WSAPOLLFD {
  SOCKET fd;
  SHORT events;
  SHORT revents;
};
using LPWSAPOLLFD = WSAPOLLFD*;

#define MAKEWORD_WS(low, high) (static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))

// Grants the requested version up to 2.2; below 1.1 fails with
// WSAVERNOTSUPPORTED. Every other call fails with WSANOTINITIALISED until a
// start-up has succeeded and not been cleaned up.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int iError);

// Looked up at run time through ws2_32 (GetProcAddress) by callers that must
// also run where they are missing.
int getaddrinfo(const char* pNodeName, const char* pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult);
void freeaddrinfo(PADDRINFOA pAddrInfo);
unsigned long inet_addr(const char* cp);
// Per-thread result, valid until the thread's next call; IPv4 only.
HOSTENT* gethostbyname(const char* name);

USHORT htons(USHORT hostshort);
USHORT ntohs(USHORT netshort);
ULONG htonl(ULONG hostlong);

SOCKET socket(int af, int type, int protocol);
int connect(SOCKET s, const SOCKADDR* name, int namelen);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
// TCP_NODELAY takes a 4-byte integer; SO_RCVTIMEO and SO_SNDTIMEO a DWORD of
// milliseconds (0: wait without limit).
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// SO_ERROR only: the pending error of a socket, cleared by the read.
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
// FIONBIO only.
int ioctlsocket(SOCKET s, long cmd, ULONG* argp);
int WSAPoll(LPWSAPOLLFD fdArray, ULONG fds, INT timeout);
// No overlapped I/O: a non-null overlapped or completion argument fails with
// WSAEOPNOTSUPP.
int WSASend(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesSent, DWORD dwFlags,
            LPWSAOVERLAPPED lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
int WSARecv(SOCKET s, LPWSABUF lpBuffers, DWORD dwBufferCount, LPDWORD lpNumberOfBytesRecvd, LPDWORD lpFlags,
            LPWSAOVERLAPPED lpOverlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

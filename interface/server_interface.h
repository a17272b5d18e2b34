// The web-server extension interface, declared here for ourselves: the two
// records a server and an extension exchange, the callbacks of the control
// block and the constants Tavik uses. The layout is the documented Windows
// one (natural alignment, DWORD = uint32_t, BOOL = int32_t, native
// pointers), so the same declarations serve a 32-bit Windows server and the
// hosts in this repository.
#ifndef TAVIK_INTERFACE_SERVER_INTERFACE_H_
#define TAVIK_INTERFACE_SERVER_INTERFACE_H_

#include <cstddef>
#include <cstdint>

// Callbacks and entry points use __stdcall on 32-bit Windows, where servers
// expect it, and the default convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define TAVIK_CALLBACK __stdcall
#else
#define TAVIK_CALLBACK
#endif

extern "C" {

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef char* LPSTR;
typedef unsigned char* LPBYTE;
typedef LPVOID HCONN;

#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_LOG_BUFFER_LEN 80

// Return values of HttpExtensionProc. The extension returns
// HSE_STATUS_SUCCESS: the request is complete. The others are for hosts,
// which must understand what any extension returns.
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4
// WriteClient flags in its last argument: 0 or HSE_IO_SYNC writes at once.
#define HSE_IO_SYNC 0x00000001
#define HSE_IO_ASYNC 0x00000002
// ServerSupportFunction request codes.
#define HSE_REQ_SEND_RESPONSE_HEADER 3
#define HSE_REQ_DONE_WITH_SESSION 4

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  BOOL(TAVIK_CALLBACK* GetServerVariable)(HCONN hConn, LPSTR lpszVariableName,
                                          LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(TAVIK_CALLBACK* WriteClient)(HCONN ConnID, LPVOID Buffer,
                                    LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(TAVIK_CALLBACK* ReadClient)(HCONN ConnID, LPVOID lpvBuffer,
                                   LPDWORD lpdwSize);
  BOOL(TAVIK_CALLBACK* ServerSupportFunction)(HCONN hConn,
                                              DWORD dwHSERequest,
                                              LPVOID lpvBuffer,
                                              LPDWORD lpdwSize,
                                              LPDWORD lpdwDataType);
};

// The two exported entry points, as a server finds them by name.
typedef BOOL(TAVIK_CALLBACK* GetExtensionVersionFn)(HSE_VERSION_INFO* pVer);
typedef DWORD(TAVIK_CALLBACK* HttpExtensionProcFn)(
    EXTENSION_CONTROL_BLOCK* pECB);

}  // extern "C"

// The records must match the Windows layout byte for byte: a server built
// against the vendor's headers hands us its own block.
namespace tavik::layout_check {
constexpr bool k32 = sizeof(void*) == 4;
constexpr size_t Pick(size_t on32, size_t on64) { return k32 ? on32 : on64; }

static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4);
static_assert(offsetof(HSE_VERSION_INFO, dwExtensionVersion) == 0);
static_assert(offsetof(HSE_VERSION_INFO, lpszExtensionDesc) == 4);
static_assert(sizeof(HSE_VERSION_INFO) == 260);

static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbSize) == 0);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, dwVersion) == 4);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ConnID) == 8);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, dwHttpStatusCode) ==
              Pick(12, 16));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszLogData) == Pick(16, 20));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == Pick(96, 104));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszQueryString) ==
              Pick(100, 112));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszPathInfo) ==
              Pick(104, 120));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszPathTranslated) ==
              Pick(108, 128));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbTotalBytes) ==
              Pick(112, 136));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbAvailable) ==
              Pick(116, 140));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == Pick(120, 144));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszContentType) ==
              Pick(124, 152));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) ==
              Pick(128, 160));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, WriteClient) ==
              Pick(132, 168));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ReadClient) == Pick(136, 176));
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ServerSupportFunction) ==
              Pick(140, 184));
static_assert(sizeof(EXTENSION_CONTROL_BLOCK) == Pick(144, 192));
}  // namespace tavik::layout_check

#endif  // TAVIK_INTERFACE_SERVER_INTERFACE_H_

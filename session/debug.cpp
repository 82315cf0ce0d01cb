// The station's and diagnostic programs' view of the library (include/varnek_debug.h):
// each answer comes from the module that owns the fact.
#include "varnek_debug.h"

#include <cstring>

#include "link/frame.h"
#include "link/link.h"
#include "link/rs232.h"
#include "platform/net.h"
#include "session/frame_header.h"
#include "session/session.h"
#include "support/bytes.h"
#include "support/pcap_format.h"
#include "transport/linkapi.h"
#include "transport/login_record.h"
#include "varnek.h"
#include "zip/zip.h"

static_assert(VKD_FRAME_PAYLOAD == SESSION_FRAME_PAYLOAD, "the frame size sessions announce");
static_assert(VKD_LINK_FRAME_MAX == LINK_BUFFER_SIZE, "the link frame buffer");
static_assert(VKD_LOGIN_RECORD_SIZE == LOGIN_RECORD_SIZE, "the log-in record");
static_assert(VKD_PCAP_ETHERNET == PCAP_ETHERNET && VKD_PCAP_USER0 == PCAP_USER0, "pcap link types");
static_assert(VKD_PCAP_FILE_HEADER == PCAP_FILE_HEADER && VKD_PCAP_RECORD_HEADER == PCAP_RECORD_HEADER,
              "pcap header sizes");
static_assert(VKD_NO_SOCKET == NET_NO_SOCKET && VKD_NET_EWOULDBLOCK == NET_EWOULDBLOCK &&
                  VKD_NET_EINPROGRESS == NET_EINPROGRESS && VKD_NET_EALREADY == NET_EALREADY &&
                  VKD_NET_EISCONN == NET_EISCONN,
              "socket codes");

namespace {

constexpr size_t BLOCK_HEADER = 4;  // code and block number

}  // namespace

extern "C" {

size_t VKD_FrameLength(const uint8_t *bytes, size_t have)
{
    return FrameHeader_FrameLength(bytes, have, SESSION_FRAME_PAYLOAD);
}

size_t VKD_FrameHeaderLength(uint8_t flags) { return FrameHeader_Length(flags); }

size_t VKD_FrameFlags(uint8_t flags, char *text, size_t size) { return FrameHeader_FlagText(flags, text, size); }

int VKD_SessionExists(short id) { return Session_Record(id) != nullptr ? 1 : 0; }

int VKD_SessionPeerAddress(short id, uint8_t addr[4])
{
    int32_t socket = Session_TransportSocket(id);
    if (socket == SESSION_NO_HANDLE) return 0;
    return Net_PeerAddress(socket, addr) ? 1 : 0;
}

void VKD_SetOfferedVersion(uint8_t version) { ZIP_SetOfferedVersion(version); }

void VKD_LinkFrameText(uint8_t header, uint16_t n, char *text) { LINK_FrameText(header, n, text); }

void VKD_BlockText(const uint8_t *block, size_t n, char *text)
{
    // LINK_FrameDebug reads the two header fields in host order, as the bridge keeps them.
    uint16_t host[2] = {0, 0};
    if (n >= 2) host[0] = Bytes_GetBE16(block);
    if (n >= BLOCK_HEADER) host[1] = Bytes_GetBE16(block + 2);
    LINK_FrameDebug(text, host, static_cast<short>(n > 0x7FFF ? 0x7FFF : n));
}

int VKD_BlockFields(const uint8_t *block, size_t n, uint16_t *code, uint16_t *blockNo)
{
    if (n < BLOCK_HEADER) return 0;
    *code = Bytes_GetBE16(block);
    *blockNo = Bytes_GetBE16(block + 2);
    return 1;
}

unsigned VKD_BridgeNextBlock(short port)
{
    const LinkApiPort *p = LINKAPI_Port(port);
    return p != nullptr ? p->nextBlockNo : 0;
}

int VKD_LoginRecordRead(const uint8_t *record, uint16_t *centrePort) { return LOGIN_Read(record, centrePort) ? 1 : 0; }

const char *VKD_SerialOpenError(void) { return RS232_LastError(); }

int VKD_ScriptRecord(const uint8_t *bytes, size_t size, uint8_t *type, uint32_t *length)
{
    if (size < VKD_SCRIPT_RECORD_HEADER) return 0;
    *type = bytes[0];
    *length = Bytes_GetLE32(bytes + 1);
    return 1;
}

uint32_t VKD_ScriptPause(const uint8_t *data, size_t n) { return n == 4 ? Bytes_GetLE32(data) : 0; }

void VKD_PcapFileHeader(uint8_t out[VKD_PCAP_FILE_HEADER], uint32_t linkType) { Pcap_FileHeader(out, linkType); }

uint32_t VKD_PcapRecordHeader(uint8_t out[VKD_PCAP_RECORD_HEADER], uint64_t microseconds, size_t length)
{
    return Pcap_RecordHeader(out, microseconds, length);
}

uint16_t VKD_GetBE16(const uint8_t *p) { return Bytes_GetBE16(p); }
uint32_t VKD_GetBE32(const uint8_t *p) { return Bytes_GetBE32(p); }
void VKD_PutBE16(uint8_t *p, uint16_t v) { Bytes_PutBE16(p, v); }
void VKD_PutBE32(uint8_t *p, uint32_t v) { Bytes_PutBE32(p, v); }
uint32_t VKD_GetLE32(const uint8_t *p) { return Bytes_GetLE32(p); }

int32_t VKD_NetSocket(void) { return Net_Socket(NetType::Stream); }
void VKD_NetClose(int32_t s) { Net_Close(s); }
int VKD_NetBind(int32_t s, const uint8_t addr[4], uint16_t port) { return Net_Bind(s, addr, port); }
int VKD_NetListen(int32_t s, int backlog) { return Net_Listen(s, backlog); }
int32_t VKD_NetAccept(int32_t s) { return Net_Accept(s); }
uint16_t VKD_NetLocalPort(int32_t s) { return Net_LocalPort(s); }
int VKD_NetConnect(int32_t s, const uint8_t addr[4], uint16_t port) { return Net_Connect(s, addr, port); }
int VKD_NetConnectResult(int32_t s, uint32_t waitMs) { return Net_ConnectResult(s, waitMs); }
int VKD_NetWait(int32_t s, int forWrite, uint32_t waitMs)
{
    return Net_Wait(s, forWrite ? NetWait::Write : NetWait::Read, waitMs);
}
int VKD_NetSend(int32_t s, const void *data, size_t length) { return Net_Send(s, data, length); }
int VKD_NetRecv(int32_t s, void *buffer, size_t length) { return Net_Recv(s, buffer, length); }
int VKD_NetLastError(void) { return Net_LastError(); }

}  // extern "C"

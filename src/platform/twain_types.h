// The data structures and codes of the TWAIN protocol that the program and its source
// manager exchange through DSM_Entry, plus the "global memory" blocks in which images
// travel.  Both sides include this header, so the layout is one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sq::twain {

using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_INT16 = int16_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;
using TW_STR32 = char[34];

#pragma pack(push, 2)

struct TW_VERSION {
  TW_UINT16 MajorNum;
  TW_UINT16 MinorNum;
  TW_UINT16 Language;
  TW_UINT16 Country;
  TW_STR32 Info;
};

struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor;
  TW_UINT16 ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer;
  TW_STR32 ProductFamily;
  TW_STR32 ProductName;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;  // 0xFFFF: more follow, how many is not known
  TW_UINT32 Reserved;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};

#pragma pack(pop)

// Data groups.
constexpr TW_UINT32 DG_CONTROL = 1;
constexpr TW_UINT32 DG_IMAGE = 2;
// Data argument types.
constexpr TW_UINT16 DAT_CAPABILITY = 1;
constexpr TW_UINT16 DAT_EVENT = 2;
constexpr TW_UINT16 DAT_IDENTITY = 3;
constexpr TW_UINT16 DAT_PARENT = 4;
constexpr TW_UINT16 DAT_PENDINGXFERS = 5;
constexpr TW_UINT16 DAT_STATUS = 8;
constexpr TW_UINT16 DAT_USERINTERFACE = 9;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x104;
// Messages.
constexpr TW_UINT16 MSG_NULL = 0;
constexpr TW_UINT16 MSG_GET = 1;
constexpr TW_UINT16 MSG_GETDEFAULT = 3;
constexpr TW_UINT16 MSG_GETFIRST = 4;
constexpr TW_UINT16 MSG_GETNEXT = 5;
constexpr TW_UINT16 MSG_SET = 6;
constexpr TW_UINT16 MSG_RESET = 7;
constexpr TW_UINT16 MSG_XFERREADY = 0x101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x102;
constexpr TW_UINT16 MSG_OPENDSM = 0x301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x302;
constexpr TW_UINT16 MSG_OPENDS = 0x401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x402;
constexpr TW_UINT16 MSG_USERSELECT = 0x403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x502;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x601;
constexpr TW_UINT16 MSG_ENDXFER = 0x701;
// Return codes.
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;
// Condition codes.
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
// Supported groups of an identity.
constexpr TW_UINT32 DG_CONTROL_AND_IMAGE = DG_CONTROL | DG_IMAGE;

using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_IDENTITY* destination, TW_UINT32 group,
                                   TW_UINT16 argumentType, TW_UINT16 message, TW_MEMREF data);

// The name of the entry point a source manager library exports.
constexpr const char* kEntryPointName = "DSM_Entry";

// A global memory block: a handle that knows its size, allocated by one side and
// freed by the other (both use this process's C allocator).  A transferred image is a
// packed device-independent bitmap in such a block.
struct TGlobalBlockHeader {
  uint64_t Magic;
  uint64_t Size;
};
constexpr uint64_t kGlobalBlockMagic = 0x4B434F4C42575154ull;  // "TQWBLOCK"

inline TW_HANDLE GlobalAllocBlock(size_t size) {
  auto* header = static_cast<TGlobalBlockHeader*>(std::malloc(sizeof(TGlobalBlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->Magic = kGlobalBlockMagic;
  header->Size = size;
  return header;
}

// 0 for a handle that is not a block.
inline size_t GlobalBlockSize(TW_HANDLE handle) {
  const auto* header = static_cast<const TGlobalBlockHeader*>(handle);
  return header && header->Magic == kGlobalBlockMagic ? static_cast<size_t>(header->Size) : 0;
}

inline uint8_t* GlobalBlockData(TW_HANDLE handle) {
  return handle ? reinterpret_cast<uint8_t*>(static_cast<TGlobalBlockHeader*>(handle) + 1) : nullptr;
}

inline void GlobalFreeBlock(TW_HANDLE handle) {
  if (handle == nullptr) return;
  static_cast<TGlobalBlockHeader*>(handle)->Magic = 0;
  std::free(handle);
}

}  // namespace sq::twain

// The TWAIN 1.x interface between a source manager, an application and a data source: the types,
// structures and constants this data source uses, written from the published TWAIN specification.
// Structures use 2-byte packing, as every TWAIN component of 32-bit Windows expects.
#pragma once
#include <windows.h>

#include <cstddef>

typedef unsigned char TW_UINT8;
typedef char TW_INT8;
typedef short TW_INT16;
typedef unsigned short TW_UINT16;
typedef long TW_INT32;
typedef unsigned long TW_UINT32;
typedef unsigned short TW_BOOL;
typedef HANDLE TW_HANDLE;
typedef LPVOID TW_MEMREF;
typedef char TW_STR32[34];
typedef char TW_STR255[256];

#pragma pack(push, 2)

struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};

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

struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};

struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT32 CurrentIndex;
  TW_UINT32 DefaultIndex;
  TW_UINT8 ItemList[1];
};

struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 EOJ;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize;
  TW_UINT32 MaxBufSize;
  TW_UINT32 Preferred;
};

struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow;
  TW_UINT32 Columns;
  TW_UINT32 Rows;
  TW_UINT32 XOffset;
  TW_UINT32 YOffset;
  TW_UINT32 BytesWritten;
  TW_MEMORY Memory;
};

struct TW_FRAME {
  TW_FIX32 Left;
  TW_FIX32 Top;
  TW_FIX32 Right;
  TW_FIX32 Bottom;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  TW_UINT32 DocumentNumber;
  TW_UINT32 PageNumber;
  TW_UINT32 FrameNumber;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth;
  TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};

struct TW_ELEMENT8 {
  TW_UINT8 Index;
  TW_UINT8 Channel1;
  TW_UINT8 Channel2;
  TW_UINT8 Channel3;
};

struct TW_PALETTE8 {
  TW_UINT16 NumColors;
  TW_UINT16 PaletteType;
  TW_ELEMENT8 Colors[256];
};

#pragma pack(pop)

// The layouts every 32-bit TWAIN component shares. The pointer-free ones are the same in a
// 64-bit build; those holding a handle or pointer are checked where pointers are 4 bytes.
static_assert(sizeof(TW_FIX32) == 4, "TW_FIX32");
static_assert(sizeof(TW_VERSION) == 42, "TW_VERSION");
static_assert(sizeof(TW_IDENTITY) == 156, "TW_IDENTITY");
static_assert(offsetof(TW_IDENTITY, ProductName) == 122, "TW_IDENTITY.ProductName");
static_assert(sizeof(TW_ONEVALUE) == 6, "TW_ONEVALUE");
static_assert(offsetof(TW_ENUMERATION, ItemList) == 14, "TW_ENUMERATION.ItemList");
static_assert(sizeof(TW_PENDINGXFERS) == 6, "TW_PENDINGXFERS");
static_assert(sizeof(TW_STATUS) == 4, "TW_STATUS");
static_assert(sizeof(TW_SETUPMEMXFER) == 12, "TW_SETUPMEMXFER");
static_assert(sizeof(TW_IMAGELAYOUT) == 28, "TW_IMAGELAYOUT");
static_assert(sizeof(TW_IMAGEINFO) == 42, "TW_IMAGEINFO");
static_assert(sizeof(TW_PALETTE8) == 1028, "TW_PALETTE8");
#if !defined(_WIN64)
static_assert(sizeof(TW_CAPABILITY) == 8, "TW_CAPABILITY");
static_assert(sizeof(TW_EVENT) == 6, "TW_EVENT");
static_assert(sizeof(TW_USERINTERFACE) == 8, "TW_USERINTERFACE");
static_assert(sizeof(TW_MEMORY) == 12, "TW_MEMORY");
static_assert(sizeof(TW_IMAGEMEMXFER) == 38, "TW_IMAGEMEMXFER");
static_assert(offsetof(TW_IMAGEMEMXFER, Memory) == 26, "TW_IMAGEMEMXFER.Memory");
#endif

// Entry points: the source's, and the manager's that the source calls back.
typedef TW_UINT16(WINAPI* DSENTRYPROC)(TW_IDENTITY* pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                       TW_MEMREF pData);
typedef TW_UINT16(WINAPI* DSMENTRYPROC)(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                        TW_UINT16 MSG, TW_MEMREF pData);

// Data groups.
#define DG_CONTROL 0x0001UL
#define DG_IMAGE 0x0002UL

// Data argument types.
#define DAT_NULL 0x0000
#define DAT_CAPABILITY 0x0001
#define DAT_EVENT 0x0002
#define DAT_IDENTITY 0x0003
#define DAT_PARENT 0x0004
#define DAT_PENDINGXFERS 0x0005
#define DAT_SETUPMEMXFER 0x0006
#define DAT_SETUPFILEXFER 0x0007
#define DAT_STATUS 0x0008
#define DAT_USERINTERFACE 0x0009
#define DAT_XFERGROUP 0x000a
#define DAT_IMAGEINFO 0x0101
#define DAT_IMAGELAYOUT 0x0102
#define DAT_IMAGEMEMXFER 0x0103
#define DAT_IMAGENATIVEXFER 0x0104
#define DAT_IMAGEFILEXFER 0x0105
#define DAT_PALETTE8 0x010a

// Messages.
#define MSG_NULL 0x0000
#define MSG_GET 0x0001
#define MSG_GETCURRENT 0x0002
#define MSG_GETDEFAULT 0x0003
#define MSG_GETFIRST 0x0004
#define MSG_GETNEXT 0x0005
#define MSG_SET 0x0006
#define MSG_RESET 0x0007
#define MSG_QUERYSUPPORT 0x0008
#define MSG_XFERREADY 0x0101
#define MSG_CLOSEDSREQ 0x0102
#define MSG_CLOSEDSOK 0x0103
#define MSG_OPENDSM 0x0301
#define MSG_CLOSEDSM 0x0302
#define MSG_OPENDS 0x0401
#define MSG_CLOSEDS 0x0402
#define MSG_USERSELECT 0x0403
#define MSG_DISABLEDS 0x0501
#define MSG_ENABLEDS 0x0502
#define MSG_ENABLEDSUIONLY 0x0503
#define MSG_PROCESSEVENT 0x0601
#define MSG_ENDXFER 0x0701

// Return codes.
#define TWRC_SUCCESS 0
#define TWRC_FAILURE 1
#define TWRC_CHECKSTATUS 2
#define TWRC_CANCEL 3
#define TWRC_DSEVENT 4
#define TWRC_NOTDSEVENT 5
#define TWRC_XFERDONE 6
#define TWRC_ENDOFLIST 7

// Condition codes.
#define TWCC_SUCCESS 0
#define TWCC_BUMMER 1
#define TWCC_LOWMEMORY 2
#define TWCC_NODS 3
#define TWCC_MAXCONNECTIONS 4
#define TWCC_OPERATIONERROR 5
#define TWCC_BADCAP 6
#define TWCC_BADPROTOCOL 9
#define TWCC_BADVALUE 10
#define TWCC_SEQERROR 11
#define TWCC_BADDEST 12

// Container types.
#define TWON_ARRAY 3
#define TWON_ENUMERATION 4
#define TWON_ONEVALUE 5
#define TWON_RANGE 6

// Item types.
#define TWTY_INT8 0x0000
#define TWTY_INT16 0x0001
#define TWTY_INT32 0x0002
#define TWTY_UINT8 0x0003
#define TWTY_UINT16 0x0004
#define TWTY_UINT32 0x0005
#define TWTY_BOOL 0x0006
#define TWTY_FIX32 0x0007

// Capabilities.
#define CAP_XFERCOUNT 0x0001
#define ICAP_COMPRESSION 0x0100
#define ICAP_PIXELTYPE 0x0101
#define ICAP_UNITS 0x0102
#define ICAP_XFERMECH 0x0103
#define CAP_UICONTROLLABLE 0x100e
#define ICAP_PIXELFLAVOR 0x111f

// Capability values.
#define TWSX_NATIVE 0
#define TWSX_FILE 1
#define TWSX_MEMORY 2
#define TWPT_BW 0
#define TWPT_GRAY 1
#define TWPT_RGB 2
#define TWPT_PALETTE 3
#define TWUN_PIXELS 5
#define TWPF_CHOCOLATE 0
#define TWCP_NONE 0
#define TWPA_RGB 0

// Identity values.
#define TWLG_USA 13
#define TWCY_USA 1
#define TWON_PROTOCOLMAJOR 1
#define TWON_PROTOCOLMINOR 7

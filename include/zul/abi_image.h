/*
 * zul/abi_image.h -- part of the C interface (zul/abi.h): the image
 * information, module and version records that libzulfact.so exports to
 * the host, and its two exported entry points.
 *
 * The records are laid out byte for byte, field after field with no
 * alignment padding (pointers may sit at odd offsets), so they are packed.
 * Offsets are given beside each field; tests/abi checks them from C.
 */
#ifndef ZUL_ABI_IMAGE_H
#define ZUL_ABI_IMAGE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZUL_IMAGE_TAG "ZUL_Image_Information="  /* 22 characters */
#define ZUL_IMAGE_MAGIC 0xB0BDEBEDu
#define ZUL_IMAGE_COUNT 8u
#define ZUL_IMAGE_SEQUENCE "001"
#define ZUL_MODULE_NAME "zulfact "                /* blank padded to 8 */

/* The procedure entry: no arguments; ends through the host's exit service
 * (39/4), so in this host it does not return. */
typedef int32_t (*zul_procedure_fn)(void);
typedef int32_t (*zul_module_routine_fn)(void);
/* Host trampoline: sets the used byte of group 0 and passes its arguments
 * to service 0/1. */
typedef void *(*zul_trampoline_fn)(void *a, void *b, void *c, void *d);

#pragma pack(push, 1)

typedef struct zul_module_record {
  uint16_t zero;                   /*  0: 0 */
  uint16_t ones;                   /*  2: 0xFFFF */
  uint32_t size1;                  /*  4: 1024 */
  uint32_t size2;                  /*  8: 1024 */
  char name[8];                    /* 12: "zulfact " */
  zul_procedure_fn procedure;      /* 20 */
  uint32_t word3;                  /* 28: 3 */
  uint32_t word9683;               /* 32: 9683 */
  uint32_t word2213;               /* 36: 0x2213A929 */
  uint32_t word15;                 /* 40: 15 */
  zul_module_routine_fn init;      /* 44: returns 1 */
  zul_trampoline_fn trampoline;    /* 52 */
  zul_module_routine_fn terminate; /* 60: returns 1 */
  uint32_t word3b;                 /* 68: 3 */
} zul_module_record;               /* 72 bytes */

typedef struct zul_image_info {
  char tag[24];                        /*   0: ZUL_IMAGE_TAG, NUL, padding */
  uint32_t magic;                      /*  24: 0xB0BDEBED */
  uint32_t count;                      /*  28: 8 */
  char release[6];                     /*  32: short release, NUL terminated */
  char buildId[20];                    /*  38: release, level and build date */
  char buildDate[16];                  /*  58: "Dec 06 2026" */
  uint8_t padding[8];                  /*  74: zero */
  zul_module_record *const *moduleCell;/*  82: cell that points to the module record */
  const char *notice;                  /*  90: one-line notice */
  char sequence[8];                    /*  98: "001" and NUL */
  zul_module_record *module;           /* 106 */
  uint8_t terminator[8];               /* 114: zero */
} zul_image_info;                      /* 122 bytes */

#pragma pack(pop)

/* Version record copied by qkvercn1: 26 pointer-sized words, 208 bytes. */
typedef struct zul_version_record {
  const char *release;          /*  0 */
  const char *buildPath;        /*  1 */
  const char *empty1;           /*  2 "" */
  uint64_t buildTime;           /*  3 seconds since 1970 (32-bit count) */
  const char *area1;            /*  4 "stat" */
  const char *platform;         /*  5 */
  const char *area2;            /*  6 "stat" */
  const char *buildId;          /*  7 opaque */
  const char *empty2;           /*  8 "" */
  const char *versionWord;      /*  9 "version" */
  const char *colons;           /* 10 "::" */
  const char *empty3;           /* 11 "" */
  char *hotfix;                 /* 12 "ZUL_VERSION_HOTFIX_NUMBER=" + 40 blanks */
  const char *platformCompiler; /* 13 */
  char *imageDescription;       /* 14 "VERCON_IMAGE_DESCRIPTION=" + 40 blanks */
  const char *platformCode;     /* 15 */
  const char *buildDateTime;    /* 16 "Sun Dec  6 10:00:00 UTC 2026" */
  uint64_t zero[9];             /* 17..25 */
} zul_version_record;           /* 208 bytes */

/* What the host passes as the second argument of mcn_main. */
typedef struct zul_host_context {
  uint32_t size;              /* sizeof(zul_host_context) */
  uint32_t processorFeatures; /* bit 0 SSE2, bit 1 AVX, bit 2 AVX2, bit 3 FMA */
  const char *hostName;       /* "zul" */
} zul_host_context;

/* Exported by the module (looked up with dlsym). */
typedef const zul_image_info *(*zul_mcn_main_fn)(void **serviceVector, void *hostContext);
typedef void (*zul_qkvercn1_fn)(void *buffer);
#define ZUL_MCN_MAIN "mcn_main"
#define ZUL_QKVERCN1 "qkvercn1"

#ifdef __cplusplus
}
#endif

#endif /* ZUL_ABI_IMAGE_H */

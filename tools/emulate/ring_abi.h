/* The layout of the kernel's user-space SCSI target ring (linux/target_core_user.h), written out
 * here because that header cannot be compiled as C++ (its inline helpers convert integers to an
 * enum) and its struct iovec clashes with the C library's. ring_abi_check.c holds every field to
 * the kernel header's offsets; this file is C and C++ alike. */
#ifndef VELTRAN_RING_ABI_H
#define VELTRAN_RING_ABI_H

#include <stdint.h>

#define RING_FLAG_READ_LEN_CAPABLE (1u << 1) /* TCMU_MAILBOX_FLAG_CAP_READ_LEN */
#define RING_OP_MASK 0x7u
#define RING_OP_PAD 0u
#define RING_OP_CMD 1u
#define RING_OP_TMR 2u
#define RING_UFLAG_READ_LEN 0x2u
#define RING_SENSE_SIZE 96

struct RingMailbox {
  uint16_t version;
  uint16_t flags;
  uint32_t cmdr_off;
  uint32_t cmdr_size;
  uint32_t cmd_head;
  uint8_t pad_to_line[48];
  uint32_t cmd_tail; /* written by us, on a cache line of its own */
} __attribute__((packed));

struct RingEntryHeader {
  uint32_t len_op; /* the entry's length with the operation in its low three bits */
  uint16_t cmd_id;
  uint8_t kflags;
  uint8_t uflags;
} __attribute__((packed));

/* struct iovec of a 64-bit kernel: base is an offset within the mapping. */
struct RingPiece {
  uint64_t base;
  uint64_t len;
};

struct RingRequest {
  uint32_t iov_cnt;
  uint32_t iov_bidi_cnt;
  uint32_t iov_dif_cnt;
  uint64_t cdb_off;
  uint64_t pad1;
  uint64_t pad2;
  /* struct RingPiece iov[iov_cnt] follows */
}; /* not packed, as in the kernel: cdb_off lies on its 8-byte boundary */

struct RingResponse {
  uint8_t scsi_status;
  uint8_t pad1;
  uint16_t pad2;
  uint32_t read_len;
  uint8_t sense_buffer[RING_SENSE_SIZE];
};

struct RingCommandEntry {
  struct RingEntryHeader hdr;
  union {
    struct RingRequest req;
    struct RingResponse rsp;
  };
} __attribute__((packed));

struct RingAbortEntry {
  struct RingEntryHeader hdr;
  uint8_t tmr_type;
  uint8_t pad1;
  uint16_t pad2;
  uint32_t cmd_cnt;
  uint64_t pad3;
  uint64_t pad4;
  /* uint16_t cmd_ids[cmd_cnt] follows */
} __attribute__((packed));

#endif

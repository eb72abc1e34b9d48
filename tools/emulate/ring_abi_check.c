/* Holds ring_abi.h to the kernel's own header, field by field: the build fails where they
 * differ. Nothing here is called. */
#include <linux/target_core_user.h>
#include <stddef.h>

#include "ring_abi.h"

#define SAME_FIELD(ours, theirs, field)                                                      \
  _Static_assert(offsetof(struct ours, field) == offsetof(struct theirs, field) &&           \
                     sizeof(((struct ours*)0)->field) == sizeof(((struct theirs*)0)->field), \
                 #ours "." #field)

SAME_FIELD(RingMailbox, tcmu_mailbox, version);
SAME_FIELD(RingMailbox, tcmu_mailbox, flags);
SAME_FIELD(RingMailbox, tcmu_mailbox, cmdr_off);
SAME_FIELD(RingMailbox, tcmu_mailbox, cmdr_size);
SAME_FIELD(RingMailbox, tcmu_mailbox, cmd_head);
SAME_FIELD(RingMailbox, tcmu_mailbox, cmd_tail);
SAME_FIELD(RingEntryHeader, tcmu_cmd_entry_hdr, len_op);
SAME_FIELD(RingEntryHeader, tcmu_cmd_entry_hdr, cmd_id);
SAME_FIELD(RingEntryHeader, tcmu_cmd_entry_hdr, uflags);
SAME_FIELD(RingCommandEntry, tcmu_cmd_entry, req.iov_cnt);
SAME_FIELD(RingCommandEntry, tcmu_cmd_entry, req.cdb_off);
SAME_FIELD(RingCommandEntry, tcmu_cmd_entry, rsp.scsi_status);
SAME_FIELD(RingCommandEntry, tcmu_cmd_entry, rsp.read_len);
SAME_FIELD(RingCommandEntry, tcmu_cmd_entry, rsp.sense_buffer);
SAME_FIELD(RingAbortEntry, tcmu_tmr_entry, tmr_type);
SAME_FIELD(RingAbortEntry, tcmu_tmr_entry, cmd_cnt);
_Static_assert(sizeof(struct RingCommandEntry) == sizeof(struct tcmu_cmd_entry), "entry size");
_Static_assert(sizeof(struct RingAbortEntry) == sizeof(struct tcmu_tmr_entry), "abort size");
_Static_assert(sizeof(struct RingPiece) == sizeof(struct iovec), "iovec");
_Static_assert(RING_OP_CMD == TCMU_OP_CMD && RING_OP_TMR == TCMU_OP_TMR, "operations");
_Static_assert(RING_UFLAG_READ_LEN == TCMU_UFLAG_READ_LEN, "read length flag");
_Static_assert(RING_FLAG_READ_LEN_CAPABLE == TCMU_MAILBOX_FLAG_CAP_READ_LEN, "capability");
_Static_assert(RING_SENSE_SIZE == TCMU_SENSE_BUFFERSIZE, "sense size");

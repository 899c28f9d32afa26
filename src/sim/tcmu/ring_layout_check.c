/* Fails the build when ring_layout.h and the kernel's header disagree. */
#include <linux/target_core_user.h>
#include <stddef.h>

#include "sim/tcmu/ring_layout.h"

#define SAME(ours, theirs) _Static_assert((long)(ours) == (long)(theirs), #ours " differs from the kernel's " #theirs)

SAME(kTcmuMailboxVersion, offsetof(struct tcmu_mailbox, version));
SAME(kTcmuMailboxFlags, offsetof(struct tcmu_mailbox, flags));
SAME(kTcmuRingOffset, offsetof(struct tcmu_mailbox, cmdr_off));
SAME(kTcmuRingSize, offsetof(struct tcmu_mailbox, cmdr_size));
SAME(kTcmuHead, offsetof(struct tcmu_mailbox, cmd_head));
SAME(kTcmuTail, offsetof(struct tcmu_mailbox, cmd_tail));
SAME(kTcmuMailboxSize, sizeof(struct tcmu_mailbox));
SAME(kTcmuLenOp, offsetof(struct tcmu_cmd_entry_hdr, len_op));
SAME(kTcmuUflags, offsetof(struct tcmu_cmd_entry_hdr, uflags));
SAME(kTcmuHeaderSize, sizeof(struct tcmu_cmd_entry_hdr));
SAME(kTcmuIovCount, offsetof(struct tcmu_cmd_entry, req.iov_cnt));
SAME(kTcmuIovBidiCount, offsetof(struct tcmu_cmd_entry, req.iov_bidi_cnt));
SAME(kTcmuCdbOffset, offsetof(struct tcmu_cmd_entry, req.cdb_off));
SAME(kTcmuIovs, offsetof(struct tcmu_cmd_entry, req.iov));
SAME(kTcmuIovSize, sizeof(struct iovec));
SAME(kTcmuStatus, offsetof(struct tcmu_cmd_entry, rsp.scsi_status));
SAME(kTcmuReadLen, offsetof(struct tcmu_cmd_entry, rsp.read_len));
SAME(kTcmuSense, offsetof(struct tcmu_cmd_entry, rsp.sense_buffer));
SAME(kTcmuSenseSize, TCMU_SENSE_BUFFERSIZE);
SAME(kTcmuEntrySize, sizeof(struct tcmu_cmd_entry));
SAME(kTcmuMailboxVersionSupported, TCMU_MAILBOX_VERSION);
SAME(kTcmuOpMask, TCMU_OP_MASK);
SAME(kTcmuOpPad, TCMU_OP_PAD);
SAME(kTcmuOpCmd, TCMU_OP_CMD);
SAME(kTcmuOpTmr, TCMU_OP_TMR);
SAME(kTcmuFlagCapReadLen, TCMU_MAILBOX_FLAG_CAP_READ_LEN);
SAME(kTcmuUflagUnknownOp, TCMU_UFLAG_UNKNOWN_OP);
SAME(kTcmuUflagReadLen, TCMU_UFLAG_READ_LEN);

/* A translation unit with nothing but assertions is not valid C. */
int vantrel_tcmu_layout_checked(void) { return 1; }

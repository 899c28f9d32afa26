/* Where the fields of the TCMU mailbox and command entries lie in the shared area, as the
 * kernel's <linux/target_core_user.h> lays them out. That header cannot be compiled as C++
 * (its inline helpers convert integers to enums, and it brings a second struct iovec), so the
 * offsets are restated here and ring_layout_check.c proves them against it at build time. */
#ifndef VANTREL_SIM_TCMU_RING_LAYOUT_H
#define VANTREL_SIM_TCMU_RING_LAYOUT_H

enum TcmuLayout {
    /* struct tcmu_mailbox */
    kTcmuMailboxVersion = 0,   /* __u16 */
    kTcmuMailboxFlags = 2,     /* __u16 */
    kTcmuRingOffset = 4,       /* __u32 cmdr_off */
    kTcmuRingSize = 8,         /* __u32 cmdr_size */
    kTcmuHead = 12,            /* __u32 cmd_head, moved by the kernel */
    kTcmuTail = 64,            /* __u32 cmd_tail, moved by the handler, on its own cache line */
    kTcmuMailboxSize = 128,
    /* struct tcmu_cmd_entry_hdr */
    kTcmuLenOp = 0,            /* __u32: length, operation in the low 3 bits */
    kTcmuUflags = 7,           /* __u8 */
    kTcmuHeaderSize = 8,
    /* struct tcmu_cmd_entry, request side */
    kTcmuIovCount = 8,         /* __u32 */
    kTcmuIovBidiCount = 12,    /* __u32 */
    kTcmuCdbOffset = 24,       /* __u64 */
    kTcmuIovs = 48,            /* struct iovec[]: base (an offset into the area) and length */
    kTcmuIovSize = 16,
    /* struct tcmu_cmd_entry, reply side (over the request) */
    kTcmuStatus = 8,           /* __u8 */
    kTcmuReadLen = 12,         /* __u32 */
    kTcmuSense = 16,           /* char[96] */
    kTcmuSenseSize = 96,
    kTcmuEntrySize = 112,

    kTcmuMailboxVersionSupported = 2,
    kTcmuOpMask = 0x7,
    kTcmuOpPad = 0,
    kTcmuOpCmd = 1,
    kTcmuOpTmr = 2,
    kTcmuFlagCapReadLen = 1 << 1,  /* mailbox flag: the kernel reads rsp.read_len */
    kTcmuUflagUnknownOp = 0x1,
    kTcmuUflagReadLen = 0x2
};

#endif

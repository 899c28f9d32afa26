# For the scenarios that run the program against the virtual drive served to the kernel by
# vantrel-tcmu-drive (busybox sh in the guest). Source it after lib.sh.

# Little-endian fields for a WAV header, written with printf's octal escapes.
le16() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }

# make_wav FILE RATE PAIRS: a 16-bit stereo WAV at RATE Hz of PAIRS random sample pairs.
make_wav() {
    _bytes=$(($3 * 4))
    {
        printf 'RIFF'; le32 $((36 + _bytes)); printf 'WAVEfmt '; le32 16
        le16 1; le16 2; le32 $2; le32 $(($2 * 4)); le16 4; le16 16
        printf 'data'; le32 $_bytes
        head -c $_bytes /dev/urandom
    } > "$1"
}

# make_noise FILE FRAMES: a 48 kHz 16-bit stereo WAV of random samples, exactly FRAMES DAT
# frames (1440 sample pairs each) long, so a capture of the tape made from it is the same file.
make_noise() { make_wav "$1" 48000 $(($2 * 1440)); }

# tcmu_start DESCRIPTION: loads the target modules and serves the description's drive; sets
# TCMU_PID, TCMU_SG (/dev/sgN) and TCMU_ADDR (H:C:T:L). Fails the check when it does not come up.
tcmu_start() {
    modprobe sg; modprobe target_core_user; modprobe tcm_loop
    grep -q ' /sys/kernel/config configfs' /proc/mounts || mount -t configfs none /sys/kernel/config
    vantrel-tcmu-drive "$1" > /tmp/tcmu-drive.log 2>&1 &
    TCMU_PID=$!
    _i=0
    while [ $_i -lt 150 ] && ! grep -q '^Serving' /tmp/tcmu-drive.log && kill -0 $TCMU_PID 2>/dev/null; do
        sleep 0.2; _i=$((_i + 1))
    done
    _line=$(grep '^Serving' /tmp/tcmu-drive.log)
    if [ -z "$_line" ]; then
        # How it ended (or that it still runs) and the kernel's last words, for a failure that prints nothing.
        _rc=running
        kill -0 $TCMU_PID 2>/dev/null || { wait $TCMU_PID; _rc=$?; }
        fail "vantrel-tcmu-drive serves $1" "$(cat /tmp/tcmu-drive.log) (exit status $_rc; kernel: $(dmesg | tail -3 | tr '\n' ' '))"
        return 1
    fi
    pass "vantrel-tcmu-drive serves $1"
    echo "    $_line"
    TCMU_SG=$(echo "$_line" | sed -n 's/.* as \(\/dev\/sg[0-9]*\) .*/\1/p')
    TCMU_ADDR=$(echo "$_line" | sed -n 's/.* at SCSI \([0-9:]*\) .*/\1/p')
}

# tcmu_stop: Ctrl-C to the handler; it must end cleanly and leave nothing in configfs.
tcmu_stop() {
    kill -INT $TCMU_PID
    wait $TCMU_PID
    expect_rc "vantrel-tcmu-drive ends on Ctrl-C" 0 $?
    _left=$(ls /sys/kernel/config/target/core 2>/dev/null | grep -v '^alua$'; ls /sys/kernel/config/target/loopback 2>/dev/null | grep '^naa')
    if [ -z "$_left" ]; then pass "vantrel-tcmu-drive takes its target down"
    else fail "vantrel-tcmu-drive takes its target down" "left in configfs: $_left"; fi
}

# same_lines NAME A B: the two files agree line for line (a diff is shown when not).
same_lines() {
    if cmp -s "$2" "$3"; then pass "$1"
    else fail "$1" "$2 and $3 differ"; diff "$2" "$3" | head -20 | sed 's/^/    /'; fi
}

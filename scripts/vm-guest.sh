#!/bin/sh
# The init of the machine `make vm-test` boots (packed as /init by
# scripts/vm-test.sh): a USB printer gadget on dummy_hcd served by
# tessaly-printer-sim, the kernel's usblp, and QEMU's parallel port. Each step
# prints "CHECK <name>: ok | FAIL <why> | skip <why>" on the serial console;
# "VM-DONE" ends the run.

export PATH=/bin:/opt/tessaly
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 1 >/proc/sys/kernel/printk
cd /tmp

GADGET=/sys/kernel/config/usb_gadget/tessaly
DESC_SERIAL=DESC0001 # the USB serial-number descriptor
ID_SERIAL=SN1284X    # the SN: field of the IEEE 1284 device ID
MSR=VM000042         # the simulated printer's serial number
SIMLOG=/tmp/sim.log
CLI="tessaly-cli --usb $DESC_SERIAL"

at() { echo "(at $(cut -d. -f1 /proc/uptime)s)"; }
# What the program said, under the check line.
said() { sed 's/^/    | /' /tmp/out | head -6; }
# check NAME WHY TEST: the shell TEST decides; WHY, expanded after it, tells
# a failure.
check() {
    if eval "$3"; then echo "CHECK $1: ok $(at)" && return 0; fi
    eval "why=\"$2\""
    echo "CHECK $1: FAIL $why $(at)"
    said
    return 1
}
load() { insmod /lib/modules/$1.ko $2 >/dev/null 2>&1 || echo "cannot load $1"; }
# Waits up to $2 tenths of a second for the test $1.
wait_for() {
    n=0
    while ! eval "$1"; do
        n=$((n + 1)) && [ $n -ge "$2" ] && return 1
        usleep 100000
    done
}
# Runs the CLI with the rest as arguments; $code and $secs tell how it went.
run() {
    t0=$(date +%s)
    "$@" >/tmp/out 2>&1
    code=$?
    secs=$(($(date +%s) - t0))
}
printer_speed() {
    for d in /sys/bus/usb/devices/*; do
        [ "$(cat $d/idVendor 2>/dev/null)" = 3c7a ] && cat $d/speed && return
    done
}
usblp_binds() { dmesg | grep -c 'USB Bidirectional printer'; }
plug() { echo dummy_udc.0 >$GADGET/UDC; }
unplug() { echo "" >$GADGET/UDC; }
start_sim() {
    tessaly-printer-sim --gadget /dev/g_printer0 --log-frames --serial $MSR \
        --card-delay-ms 3000 >$SIMLOG 2>&1 &
    SIM=$!
}
stop_sim() {
    kill $SIM
    wait $SIM
}
# Bytes of the frames of one kind in the simulator's log.
frame_bytes() { awk -v k="$1" '$1 == "<-" && $2 == k { gsub(/\(/, "", $(NF-1)); s += $(NF-1) } END { print s + 0 }' $SIMLOG; }
# A print's last bytes may still sit in the gadget's queue when the host's
# transfer has ended.
printed() { : >$SIMLOG && run $CLI print /tmp/print.prn && wait_for '[ "$(frame_bytes Raw)" = 1048576 ]' 300; }

make_gadget() {
    mkdir -p $GADGET/strings/0x409 $GADGET/functions/printer.usb0 $GADGET/configs/c.1
    echo 0x3c7a >$GADGET/idVendor
    echo 0x1800 >$GADGET/idProduct
    echo $DESC_SERIAL >$GADGET/strings/0x409/serialnumber
    echo "MFG:Velmora;MDL:Kestrel 2e;CMD:;CLS:PRINTER;SN:$ID_SERIAL;" >$GADGET/functions/printer.usb0/pnp_string
    ln -s $GADGET/functions/printer.usb0 $GADGET/configs/c.1/
}

# --- USB at one speed: $1 full (12 Mbit/s, 64-byte packets) or high (480) ------
usb_round() {
    s=$1 && want=$([ $s = full ] && echo 12 || echo 480)
    load dummy_hcd "is_high_speed=$([ $s = full ] && echo 0 || echo 1)"
    plug
    check usb-$s-speed-printer-appears 'at $(printer_speed), not $want Mbit/s, or no lp0 or g_printer0' \
        'wait_for "[ -e /dev/usb/lp0 ] && [ -e /dev/g_printer0 ]" 100 && [ "$(printer_speed)" = $want ]'
    start_sim
    # Listed by the serial-number descriptor, which --usb SERIAL matches (the
    # device ID's SN: pairs print queues), and listing leaves usblp bound.
    before=$(usblp_binds)
    run tessaly-cli ports
    check ports-$s-lists-descriptor-serial "not 'USB $DESC_SERIAL: ... PID : 1800'" \
        'grep -q "^USB $DESC_SERIAL: .*PID : 1800" /tmp/out && ! grep -q $ID_SERIAL /tmp/out'
    check ports-$s-leaves-usblp-bound "usblp was detached and attached again" \
        '[ "$(usblp_binds)" = "$before" ] && [ -e /dev/usb/lp0 ]'
    run $CLI identity
    check identity-$s "exit $code, not $MSR" '[ $code = 0 ] && grep -q "Serial Number: $MSR" /tmp/out'
    check print-1MiB-$s 'the printer took $(frame_bytes Raw) of 1048576 bytes' printed
    if [ $s = high ]; then
        stop_sim
        unplug
        rmmod dummy_hcd
        return
    fi

    echo "CHECK device-id-request-bounded: skip the gadget answers GET_DEVICE_ID at once, it cannot hang"
    run $CLI counters
    check counters-$s "not the simulator's" '[ $code = 0 ] && grep -q 5210 /tmp/out && grep -q 412 /tmp/out'
    : >$SIMLOG
    run $CLI upgrade /tmp/fw.cfe --yes
    check upgrade-8MiB-checksum-$s "exit $code" \
        '[ $code = 0 ] && grep -q upgraded /tmp/out && [ "$(frame_bytes Firmware)" -ge 8388608 ]'
    run $CLI read-card --tracks 1,2,3
    check read-card-3s-late-$s "exit $code after ${secs}s" \
        '[ $code = 0 ] && [ $secs -ge 3 ] && [ "$(grep -c "Track. pass" /tmp/out)" = 3 ]'
    run $CLI query --save /tmp/query.txt
    check query-save-$s "exit $code" '[ $code = 0 ] && grep -q "SERIAL: E1234567" /tmp/query.txt'
    check usblp-bound-again-$s "no /dev/usb/lp0" 'wait_for "[ -e /dev/usb/lp0 ]" 30'

    # Another program prints through usblp: the printer is theirs
    # ("Enumeration Failed"), and their open file still prints.
    before=$(usblp_binds) && rm -f /tmp/holder
    (exec 3>/dev/usb/lp0 && sleep 4 && printf '\r\n' >&3 && echo written >/tmp/holder) &
    holder=$!
    usleep 500000
    run $CLI identity
    wait $holder
    check in-use-by-another-program-$s "exit $code, usblp binds $before -> $(usblp_binds)" \
        '[ $code = 3 ] && grep -q "Enumeration Failed" /tmp/out && [ "$(usblp_binds)" = "$before" ] && [ -s /tmp/holder ]'

    # Unplugged mid-upgrade: a failure within the write's stall bound (30 s,
    # and the pauses), never success; plugged in again, the printer answers.
    (usleep 2500000 && unplug) &
    run $CLI upgrade /tmp/fw.cfe --yes
    check unplug-mid-upgrade-fails-$s "exit $code after ${secs}s" \
        '[ $code != 0 ] && [ $secs -le 45 ] && ! grep -q Successfully /tmp/out'
    plug
    wait_for '[ -e /dev/usb/lp0 ]' 100 && usleep 500000
    run $CLI identity
    check replug-identity-$s "exit $code" '[ $code = 0 ] && grep -q "Serial Number: $MSR" /tmp/out'

    # A user the device nodes are not granted to (no udev rule in here).
    chmod 600 /dev/usb/lp0 /dev/bus/usb/*/*
    run su tech -s /bin/sh -c "/opt/tessaly/$CLI identity"
    check no-access-names-udev-rule-$s "exit $code" '[ $code = 3 ] && grep -q 60-tessaly-usb.rules /tmp/out'
    said
    chmod 660 /dev/usb/lp0 /dev/bus/usb/*/*
    stop_sim
    unplug
    rmmod dummy_hcd
}

# --- the parallel port -------------------------------------------------------
lpt_round() {
    for m in parport parport_pc ppdev; do load $m; done
    check lpt-port-appears "no /dev/parport0" 'wait_for "[ -e /dev/parport0 ]" 30' || return
    # The host compares what reached QEMU's side of the port.
    run tessaly-cli --lpt 1 print /tmp/lpt.prn
    check lpt-print-sent "exit $code" '[ $code = 0 ]' &&
        echo "LPT-SENT $(sha256sum /tmp/lpt.prn | cut -d' ' -f1) $(wc -c </tmp/lpt.prn)"
    # While one program prints, the next is told at once, not held in the
    # port's claim for as long as the first prints.
    tessaly-cli --lpt 1 print /tmp/lpt-long.prn >/dev/null 2>&1 &
    first=$!
    usleep 1500000
    run tessaly-cli --lpt 1 print /tmp/lpt.prn
    check lpt-claimed-port-fails-at-once "exit $code after ${secs}s, first print still on: $(kill -0 $first && echo yes)" \
        'kill -0 $first && [ $code = 3 ] && [ $secs -le 5 ]'
    kill $first
    wait $first
    # QEMU's port has no IEEE 1284 reverse channel: a request that needs a
    # reply fails within the link's negotiation bounds.
    run tessaly-cli --lpt 1 identity
    check lpt-no-reverse-channel-fails "exit $code after ${secs}s" '[ $code = 1 ] && [ $secs -le 60 ]'
    said
}

for m in usb-common usbcore udc-core configfs libcomposite usb_f_printer usblp; do load $m; done
mount -t configfs none /sys/kernel/config
echo "tech:x:1000:1000::/tmp:/bin/sh" >>/etc/passwd
# Print data without frame bytes (0x01, 0x05), so the printer takes it raw.
yes "TESSALY VM PRINT LINE 0123456789" | head -c 1048576 >/tmp/print.prn
dd if=/dev/urandom of=/tmp/fw.cfe bs=1M count=8 2>/dev/null
yes "LPT LINE" | head -c 4096 >/tmp/lpt.prn
yes "LPT LONG LINE" | head -c 262144 >/tmp/lpt-long.prn
make_gadget

usb_round full
usb_round high
# The core tests that want a real printer, and the Linux platform tests.
load dummy_hcd
plug
wait_for '[ -e /dev/usb/lp0 ] && [ -e /dev/g_printer0 ]' 100
start_sim
run env TESSALY_USB_PRINTER=first tessaly_core_tests --gtest_filter='UsbHardware.*:UsblpNode.*:PpdevPort.*'
check core-tests-on-real-usb "exit $code" '[ $code = 0 ]'
stop_sim
unplug
lpt_round

echo VM-DONE
sync
poweroff -f

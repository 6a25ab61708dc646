#!/bin/busybox sh
# The initramfs's /init: loads the USB gadget, printer and FTDI drivers,
# runs the scenario table and powers the machine off. Each scenario prints
# one line "RESULT <name> PASS|FAIL <what was seen>". A line
# "@@HOST <command>" asks the runner on the host to act (a monitor command,
# bytes to or from the FTDI adapter's far end).
/bin/busybox --install -s /bin
export PATH=/bin LD_LIBRARY_PATH=/opt/sorlink
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /var/lock /dev/pts
mount -t tmpfs tmpfs /tmp
echo 1 >/proc/sys/kernel/printk
while read -r module args; do insmod "/lib/modules/$module" $args; done </modules.list
# configfs may itself be one of the modules.
mount -t configfs configfs /sys/kernel/config

probe=/opt/sorlink/qemu_probe
gadgets=/sys/kernel/config/usb_gadget

result() { echo "RESULT $1 $2 $3"; }

# Waits (at most 10 s) until the test of $1 holds.
wait_for() {
    i=0
    while [ $i -lt 100 ]; do
        eval "$1" && return 0
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}

# A printer gadget: name, UDC, serial number.
gadget() {
    g=$gadgets/$1
    mkdir -p "$g/strings/0x409" "$g/configs/c.1" "$g/functions/printer.p"
    echo 0x0f3c >"$g/idVendor"
    echo 0x0101 >"$g/idProduct"
    echo "$3" >"$g/strings/0x409/serialnumber"
    echo "Sorlink test" >"$g/strings/0x409/manufacturer"
    echo "Receipt printer" >"$g/strings/0x409/product"
    echo "MFG:Sorlink;MDL:Receipt;CMD:ESCPOS;" >"$g/functions/printer.p/pnp_string"
    echo 10 >"$g/functions/printer.p/q_len"
    [ -e "$g/configs/c.1/printer.p" ] || ln -s "$g/functions/printer.p" "$g/configs/c.1/"
    echo "$2" >"$g/UDC"
}
unplug() { echo "" >"$gadgets/$1/UDC"; }
replug() { echo "$2" >"$gadgets/$1/UDC"; }
lp_count() { ls /dev/usb 2>/dev/null | grep -c '^lp'; }

# Reads the gadget's side of printer $1 into $2 until it holds $3 bytes.
collect() {
    cat "/dev/g_printer$1" >"$2" &
    reader=$!
    wait_for "[ \$(wc -c <$2) -ge $3 ]"
    kill $reader 2>/dev/null
    wait $reader 2>/dev/null
}

pattern() { head -c "$1" /dev/urandom >"$2"; }

scenario_usb_listing() {
    out=$($probe list)
    case "$out" in
        "list=0 devices=0f3c|0101|QEMU0001 printers=0/") result usb_listing PASS "$out" ;;
        *) result usb_listing FAIL "$out" ;;
    esac
}

# A printer installed on the gadget (its PnPData in the registry file) is
# listed by name and a job sent by name arrives.
scenario_usb_printer_by_name() {
    cat >/tmp/registry.reg <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\VID_0F3C&PID_0101\QEMU0001]
"ParentIdPrefix"="7&2f1e0d&0"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Counter]
"Port"="USB001"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Counter\PnPData]
"DeviceInstanceId"="USBPRINT\\MODEL\\7&2F1E0D&0&USB001"
REG
    pattern 20000 /tmp/job
    cat /dev/g_printer0 >/tmp/got &
    reader=$!
    listed=$(SORLINK_REGISTRY=/tmp/registry.reg $probe list)
    out=$(SORLINK_REGISTRY=/tmp/registry.reg $probe printer Counter /tmp/job)
    wait_for "[ \$(wc -c </tmp/got) -ge 20000 ]"
    kill $reader; wait $reader 2>/dev/null
    case "$listed/$out" in
        *"printers=0/Counter"/"init=0 open=0 openerror=0 write=0 writeerror=0 close=0")
            if cmp -s /tmp/job /tmp/got; then
                result usb_printer_by_name PASS "$listed / $out"
                return
            fi ;;
    esac
    result usb_printer_by_name FAIL "$listed / $out got=$(wc -c </tmp/got)"
}

# 300,000 bytes, Close right after the last Write: all of it arrives.
scenario_usb_whole_job() {
    pattern 300000 /tmp/job
    cat /dev/g_printer0 >/tmp/got &
    reader=$!
    out=$($probe job QEMU0001 /tmp/job 5000)
    wait_for "[ \$(wc -c </tmp/got) -ge 300000 ]"
    kill $reader; wait $reader 2>/dev/null
    if [ "$out" = "init=0 open=0 openerror=0 write=0 writeerror=0 close=0" ] && cmp -s /tmp/job /tmp/got; then
        result usb_whole_job PASS "$out"
    else
        result usb_whole_job FAIL "$out got=$(wc -c </tmp/got)"
    fi
}

# Nobody reads the gadget: the write times out (313) and the printer stays.
scenario_usb_printer_stops_reading() {
    pattern 200000 /tmp/job
    out=$($probe job QEMU0001 /tmp/job 1500)
    case "$out" in
        *"open=0 "*"write=313 "*"close=0") result usb_printer_stops_reading PASS "$out" ;;
        *) result usb_printer_stops_reading FAIL "$out" ;;
    esac
    cat /dev/g_printer0 >/dev/null &
    drain=$!
    sleep 1
    kill $drain; wait $drain 2>/dev/null
}

# The gadget is unbound from its UDC while a job is under way (the probe
# marks after its first piece; nobody reads, so a later write waits): 330.
scenario_usb_unplug_during_job() {
    pattern 200000 /tmp/job
    rm -f /tmp/opened
    $probe job QEMU0001 /tmp/job 20000 /tmp/opened >/tmp/out &
    job=$!
    wait_for "[ -e /tmp/opened ]"
    unplug g0
    wait $job
    out=$(cat /tmp/out)
    case "$out" in
        *"open=0 "*"write=330 "*) result usb_unplug_during_job PASS "$out" ;;
        *) result usb_unplug_during_job FAIL "$out" ;;
    esac
}

scenario_usb_replug() {
    replug g0 dummy_udc.0
    wait_for '[ -e /dev/usb/lp0 ]'
    pattern 1000 /tmp/job
    cat /dev/g_printer0 >/tmp/got &
    reader=$!
    out=$($probe job QEMU0001 /tmp/job 5000)
    wait_for "[ \$(wc -c </tmp/got) -ge 1000 ]"
    kill $reader; wait $reader 2>/dev/null
    if cmp -s /tmp/job /tmp/got; then result usb_replug PASS "$out"; else result usb_replug FAIL "$out"; fi
}

# IsDeviceAvailable while plugged (0) and after the unplug (330).
scenario_usb_is_device_available() {
    rm -f /tmp/opened /tmp/gone
    $probe avail QEMU0001 /tmp/opened /tmp/gone >/tmp/out &
    job=$!
    wait_for "[ -e /tmp/opened ]"
    unplug g0
    wait_for '[ ! -e /dev/usb/lp0 ]'
    touch /tmp/gone
    wait $job
    out=$(cat /tmp/out)
    replug g0 dummy_udc.0
    wait_for '[ -e /dev/usb/lp0 ]'
    case "$out" in
        "open=0 before=0 after=330") result usb_is_device_available PASS "$out" ;;
        *) result usb_is_device_available FAIL "$out" ;;
    esac
}

# A node the user may not open is reported as refused (308, error 5), not
# as absent; one another process holds, likewise (error 32).
scenario_usb_node_refused() {
    chmod 600 /dev/usb/lp0
    denied=$($probe --uid 65534 job QEMU0001 /tmp/job 1000)
    chmod 666 /dev/usb/lp0
    sleep 30 </dev/usb/lp0 &
    holder=$!
    wait_for "[ \"\$(readlink /proc/$holder/fd/0)\" = /dev/usb/lp0 ]"
    busy=$($probe job QEMU0001 /tmp/job 1000)
    kill $holder; wait $holder 2>/dev/null
    case "$denied/$busy" in
        *"open=308 openerror=5 "*/*"open=308 openerror=32 "*) result usb_node_refused PASS "$denied / $busy" ;;
        *) result usb_node_refused FAIL "$denied / $busy" ;;
    esac
}

# A second gadget with the same serial number on another port: each is
# named by the serial number and its port path, the bare serial number
# names neither, and a job for the second reaches the second.
scenario_usb_same_serial() {
    gadget g1 dummy_udc.1 QEMU0001
    wait_for '[ $(lp_count) -ge 2 ] && [ -e /dev/g_printer1 ]'
    out=$($probe list)
    first="QEMU0001&$(basename "$(readlink -f /sys/class/usbmisc/lp0/device/..)")"
    second="QEMU0001&$(basename "$(readlink -f /sys/class/usbmisc/lp1/device/..)")"
    bare=$($probe job QEMU0001 /tmp/job 1000)
    pattern 5000 /tmp/job
    cat /dev/g_printer1 >/tmp/got &
    reader=$!
    job=$($probe job "$second" /tmp/job 5000)
    wait_for "[ \$(wc -c </tmp/got) -ge 5000 ]"
    kill $reader; wait $reader 2>/dev/null
    unplug g1
    case "$out/$bare" in
        *"0f3c|0101|$first|"*"0f3c|0101|$second printers"*/*"open=316 "*)
            if cmp -s /tmp/job /tmp/got; then
                result usb_same_serial PASS "$out -> $second"
                return
            fi ;;
    esac
    result usb_same_serial FAIL "$out -> '$second' $bare / $job"
}

tty=/dev/ttyUSB0

# The FTDI driver takes the line settings: Open succeeds only when the
# driver carried them (the library reads them back), and the bytes reach
# the adapter's far end.
scenario_serial_line_settings() {
    out=$($probe serial $tty 19200 2 7 2 0 HELLO-FTDI)
    line=$(stty -F $tty -a | tr '\n' ' ')
    case "$out" in
        *"open=0 "*"write=0 params=0 baud=19200 parity=2 size=7 stops=2 flow=0 close=0")
            result serial_line_settings PASS "$out" ;;
        *) result serial_line_settings FAIL "$out / $line" ;;
    esac
    echo "@@HOST ftdi-expect serial_bytes HELLO-FTDI"
}

# Xon/Xoff on the real driver: ixon and ixoff, never crtscts.
scenario_serial_xonxoff() {
    out=$($probe serial $tty 9600 0 8 0 1 XONXOFF)
    line=$(stty -F $tty -a | tr '\n' ' ')
    case "$out/$line" in
        *"open=0 "*"flow=1 close=0"/*" -crtscts "*" ixon ixoff "*) result serial_xonxoff PASS "$out" ;;
        *) result serial_xonxoff FAIL "$out / $line" ;;
    esac
}

# AdvSetSerialDTR/RTS reach the FTDI driver's modem lines.
scenario_serial_dtr_rts() {
    out=$($probe lines $tty)
    case "$out" in
        "open=0 dtroff=0 rtsoff=0 dtron=0 lines=DR,-R,--,D- close=0") result serial_dtr_rts PASS "$out" ;;
        *) result serial_dtr_rts FAIL "$out" ;;
    esac
}

# Nothing comes within the read time-out (114); then the far end sends and
# the next read returns it.
scenario_serial_timeouts() {
    rm -f /tmp/waiting /tmp/sent
    $probe read $tty 0 3000 /tmp/waiting /tmp/sent >/tmp/out &
    job=$!
    wait_for '[ -e /tmp/waiting ]'
    echo "@@HOST ftdi-send 5343414e3132330d"
    touch /tmp/sent
    wait $job
    out=$(cat /tmp/out)
    case "$out" in
        "open=0 read0=114/0/0 read1=0/0/8"*) result serial_timeouts PASS "$out" ;;
        *) result serial_timeouts FAIL "$out" ;;
    esac
}

# A program that opened the line first, by descriptor or by lock file.
scenario_serial_exclusive() {
    sleep 30 <$tty &
    holder=$!
    wait_for "[ \"\$(readlink /proc/$holder/fd/0)\" = $tty ]"
    held=$($probe serial $tty 9600 0 8 0 2 MINE)
    kill $holder; wait $holder 2>/dev/null
    printf '%10d\n' 1 >/var/lock/LCK..ttyUSB0
    locked=$($probe serial $tty 9600 0 8 0 2 MINE)
    rm -f /var/lock/LCK..ttyUSB0
    free=$($probe serial $tty 9600 0 8 0 2 MINE)
    # A stale lock in a folder the user may not write holds no one's line.
    printf '%10d\n' 999999 >/var/lock/LCK..ttyUSB0
    chmod 755 /var/lock
    chmod 666 $tty
    stale=$($probe --uid 65534 serial $tty 9600 0 8 0 2 MINE)
    rm -f /var/lock/LCK..ttyUSB0
    case "$held/$locked/$free/$stale" in
        *"open=106 openerror=5 "*/*"open=106 openerror=5 "*/*"open=0 "*/*"open=0 "*) result serial_exclusive PASS "$held / $locked / $free / $stale" ;;
        *) result serial_exclusive FAIL "$held / $locked / $free / $stale" ;;
    esac
}

# The adapter is removed from the machine (qemu's device_del) while the
# port is open with return-at-once read time-outs: reads fail (113, 31).
scenario_serial_unplug() {
    rm -f /tmp/waiting /tmp/gone
    $probe read $tty -1 0 /tmp/waiting /tmp/gone >/tmp/out &
    job=$!
    wait_for '[ -e /tmp/waiting ]'
    echo "@@HOST monitor device_del ftdi0"
    wait_for "[ ! -e $tty ]"
    touch /tmp/gone
    wait $job
    out=$(cat /tmp/out)
    case "$out" in
        "open=0 read0=114/0/0 read1=113/31/0 read2=113/31/0 read3=113/31/0") result serial_unplug PASS "$out" ;;
        *) result serial_unplug FAIL "$out" ;;
    esac
}

scenarios=$(echo "${SCENARIOS:-usb_listing usb_printer_by_name usb_whole_job usb_printer_stops_reading usb_unplug_during_job usb_replug usb_is_device_available usb_node_refused usb_same_serial serial_line_settings serial_xonxoff serial_dtr_rts serial_timeouts serial_exclusive serial_unplug}" | tr , " ")

gadget g0 dummy_udc.0 QEMU0001
if ! wait_for '[ -e /dev/usb/lp0 ] && [ -e /dev/g_printer0 ]'; then
    result usb_setup FAIL "no /dev/usb/lp0: $(ls /dev/usb /dev/g_printer* 2>&1 | tr '\n' ' ')"
elif ! wait_for "[ -e $tty ]"; then
    result serial_setup FAIL "no $tty: $(ls /dev | grep tty | tr '\n' ' ')"
else
    for s in $scenarios; do "scenario_$s"; done
fi
echo "@@END"
poweroff -f

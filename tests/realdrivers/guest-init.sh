#!/bin/sh
# The guest's init: mounts what the programs need, loads the USB serial
# stack, then serves the host's commands on the console (ttyS0).
#
# From the host, one line each:
#   R ID COMMAND    run COMMAND, then report its output and exit status
#   B ID COMMAND    start COMMAND in the background, its standard input a
#                   pipe held open until "C ID"; "@@X ID STATUS CPU" follows
#                   when it has ended (CPU: user+system seconds it used)
#   L ID            send an empty line to the standard input of job ID
#   C ID            close the standard input of job ID
#   T ID            report the CPU ticks job ID has used so far (-1 once it
#                   has ended)
# To the host: lines beginning with "@@"; anything else (kernel messages,
# the shell) is ignored there.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /tmp
mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
echo 1 >/proc/sys/kernel/printk
while read -r module; do
    insmod "/lib/modules/$module" || echo "@@FATAL cannot load $module"
done </modules.order
stty -echo 2>/dev/null

report() {  # ID FILE TAG
    while IFS= read -r line || [ -n "$line" ]; do
        echo "@@$3 $1 $line"
    done <"$2"
}

# The USB adapter is enumerated after its driver has loaded.
i=0
while [ ! -e /dev/ttyUSB0 ] && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
echo "@@READY $(cut -d' ' -f1 /proc/uptime)"
while read -r kind id command; do
    case "$kind" in
    R)
        sh -c "$command" >"/tmp/$id.o" 2>"/tmp/$id.e" </dev/null
        rc=$?
        report "$id" "/tmp/$id.o" O
        report "$id" "/tmp/$id.e" E
        echo "@@R $id $rc"
        ;;
    B)
        mkfifo "/tmp/$id.in"
        sleep 100000 >"/tmp/$id.in" &
        echo $! >"/tmp/$id.holder"
        (
            time -f '%U %S' -o "/tmp/$id.cpu" sh -c "$command" <"/tmp/$id.in" >"/tmp/$id.o" 2>"/tmp/$id.e" &
            echo $! >"/tmp/$id.pid"
            wait $!
            rc=$?
            echo "@@X $id $rc $(tail -1 "/tmp/$id.cpu" | awk '{print $1 + $2}')"
            report "$id" "/tmp/$id.o" O
            report "$id" "/tmp/$id.e" E
            echo "@@XE $id"
            kill "$(cat "/tmp/$id.holder")" 2>/dev/null
        ) &
        echo "@@B $id"
        ;;
    L)
        # Opened for reading and writing, a pipe never blocks the opening:
        # a job that has ended already does not hold up this loop.
        (exec 3<>"/tmp/$id.in" && echo >&3)
        ;;
    C) kill "$(cat "/tmp/$id.holder")" 2>/dev/null ;;
    T)
        # The job runs under time, which runs sh, which runs the program:
        # the ticks of every process below time's own.
        top=$(cat "/tmp/$id.pid" 2>/dev/null)
        if [ -z "$top" ] || [ ! -d "/proc/$top" ] || [ -s "/tmp/$id.cpu" ]; then
            echo "@@T $id -1"  # ended already
            continue
        fi
        total=0
        for stat in /proc/[0-9]*/stat; do
            set -- $(cat "$stat" 2>/dev/null)
            [ $# -ge 15 ] || continue
            pid=$1; ppid=$4; ticks=$(($14 + $15))
            eval "parent_$pid=$ppid; ticks_$pid=$ticks"
            all="$all $pid"
        done
        for pid in $all; do
            p=$pid
            while [ -n "$p" ] && [ "$p" != 0 ] && [ "$p" != 1 ]; do
                if [ "$p" = "$top" ]; then
                    eval "total=\$((total + ticks_$pid))"
                    break
                fi
                eval "p=\$parent_$p"
            done
        done
        all=""
        # A job that ended during the count has left nothing to count.
        [ -s "/tmp/$id.cpu" ] && total=-1
        echo "@@T $id $total"
        ;;
    '') ;;
    *) echo "@@BAD $kind" ;;
    esac
done
poweroff -f

#!/bin/sh
# The init of the user-mode Linux guest that scripts/nfs_test.sh boots: the
# host's files are its root (hostfs), so it writes only to its own tmpfs and
# to $zelnfs_out.  It serves a tmpfs over NFS on its loopback, mounts it five
# times as five hosts would, and runs the library's clients and save tests
# there.  Each check writes "PASS name" or "FAIL name" to $zelnfs_out/results.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
out=$zelnfs_out bin=$zelnfs_bin edits=$zelnfs_edits
results=$out/results
note() { echo "$*" >>"$results"; }
check() {  # check <name> <command...>: PASS when the command succeeds
    name=$1
    shift
    if "$@" >>"$out/guest.log" 2>&1; then note "PASS $name"; else note "FAIL $name"; fi
}
finish() {
    note "DONE"
    sync
    poweroff -f
}
trap finish EXIT
elapsed() { cut -d' ' -f1 /proc/uptime; }

mount -t proc proc /proc
mount -t sysfs sys /sys
# Scratch in /run/zel, not /tmp: the checkout (and so $out and $bin) may lie
# under the host's /tmp, which a tmpfs there would hide.
for d in /run /var/lib/nfs; do mount -t tmpfs tmpfs $d; done
mkdir -p /run/zel
note "BOOTED in $(elapsed) s"
# The kernel's modules, where modprobe looks for them (under a root of its own).
mkdir -p /run/zel/mods/lib/modules
ln -s /usr/lib/uml/modules/"$(uname -r)" /run/zel/mods/lib/modules/"$(uname -r)"
for m in nfsd lockd nfsv3 nfsv4; do modprobe -d /run/zel/mods $m || note "FAIL modprobe $m"; done
ip link set lo up

# The server: a tmpfs export, a short NFSv4 grace period (the 90 s default
# would hold up every create of the first 90 s).
mkdir -p /run/zel/export /run/rpc_pipefs /var/lib/nfs/sm /var/lib/nfs/sm.bak /var/lib/nfs/v4recovery
mount -t tmpfs export /run/zel/export
mount -t nfsd nfsd /proc/fs/nfsd
mount -t rpc_pipefs rpc_pipefs /run/rpc_pipefs
touch /var/lib/nfs/etab /var/lib/nfs/rmtab
echo 10 >/proc/fs/nfsd/nfsv4leasetime
echo 10 >/proc/fs/nfsd/nfsv4gracetime
{
    rpcbind -w && rpc.statd --no-notify &&
        exportfs -o rw,sync,no_root_squash,insecure,no_subtree_check,fsid=0 '*:/run/zel/export' &&
        rpc.mountd && rpc.nfsd 8
} >>"$out/guest.log" 2>&1 || note "FAIL the NFS server starts"

# Five clients, each its own host: a mount of its own (nosharecache), its own
# server address and, for NFSv4, its own name (the server tells clients apart
# by it).  name:options:address:path
mounts="v3a:vers=3:127.0.0.1:/run/zel/export v3b:vers=3:127.0.0.2:/run/zel/export v4a:vers=4.2:127.0.0.3:/
v4b:vers=4.2:127.0.0.4:/ nl:vers=3,nolock:127.0.0.5:/run/zel/export"
for m in $mounts; do
    IFS=: read -r name opts addr path <<E
$m
E
    mkdir -p /run/zel/m/$name
    check "mount $name ($opts)" unshare --uts sh -c "hostname host$name && timeout 60 mount -t nfs -o $opts,nosharecache $addr:$path /run/zel/m/$name"
done
note "MOUNTED in $(elapsed) s"
mount | grep ' type nfs' >>"$out/guest.log"
mkdir -p /run/zel/export/tmp && chmod 1777 /run/zel/export/tmp

# as <mount> <command...>: runs the command as the host of that mount.
as() {
    m=$1
    shift
    unshare --uts sh -c 'hostname "host$0" && exec "$@"' "$m" "$@"
}

# round <name> <writer mount> <writer mount> <reader mount>: two writers save
# in a loop through their mounts while a reader opens through a third.
round() {
    r=$1 w0=$2 w1=$3 rd=$4
    view=/run/zel/export/$r/lib/top/config
    mkdir -p "$view"
    printf 'zelvek-config 1\nrevision 1\n' >"$view/config.zel"
    for m in $w0 $w1 $rd; do echo "DEFINE lib /run/zel/m/$m/$r/lib" >"/run/zel/$r.$m.lib"; done
    # A save in flight on a host that is not here, and one of a dead
    # process of the first writer's host.
    touch "$view/.config.zel.hostelsewhere.1.abcdef"
    dead=$(sh -c 'echo $$')
    deadtemp=.config.zel.$(as "$w0" "$bin/nfs_client" tempname "$dead").abcdef
    touch "$view/$deadtemp"
    as "$rd" "$bin/nfs_client" read "/run/zel/$r.$rd.lib" "/run/zel/$r.stop" >"/run/zel/$r.read" 2>&1 &
    reader=$!
    start=$(elapsed)
    as "$w0" "$bin/nfs_client" write "/run/zel/$r.$w0.lib" A "$edits" >"/run/zel/$r.A" 2>&1 &
    a=$!
    as "$w1" "$bin/nfs_client" write "/run/zel/$r.$w1.lib" B "$edits" >"/run/zel/$r.B" 2>&1 &
    b=$!
    wa=0 wb=0
    wait $a || wa=$?
    wait $b || wb=$?
    touch "/run/zel/$r.stop"
    wr=0
    wait $reader || wr=$?
    took=$(awk "BEGIN { print $(elapsed) - $start }")
    note "FIGURES $r: $(cat /run/zel/$r.A /run/zel/$r.B /run/zel/$r.read | grep -v warning | tr '\n' ';')"
    note "ROUND $r took $took s"
    cat "/run/zel/$r.A" "/run/zel/$r.B" "/run/zel/$r.read" >>"$out/guest.log"
    [ $wa -eq 0 ] && [ $wb -eq 0 ] && note "PASS $r: two writers ($w0, $w1) saved $edits edits each" ||
        note "FAIL $r: two writers ($w0, $w1), exit $wa and $wb"
    check "$r: no edit lost" as "$rd" "$bin/nfs_client" check "/run/zel/$r.$rd.lib" "$edits" A B
    grep check: "$out/guest.log" | tail -1 | sed "s/^/FIGURES $r: /" >>"$results"
    [ $wr -eq 0 ] && note "PASS $r: the reader on $rd never failed" || note "FAIL $r: the reader on $rd failed"
    check "$r: another host's live temp file left alone" test -f "$view/.config.zel.hostelsewhere.1.abcdef"
    check "$r: a dead writer's temp file removed" test ! -e "$view/$deadtemp"
    check "$r: no lock left" test ! -e "$view/.config.zel.lock"
}

round v3 v3a v3b v4a
round v4.2 v4a v4b v3a
round nolock nl v4b v3b

# A late save: a host that read the configuration saves after another host
# saved it, but still shows the file as it read it.  A host may (a name or a
# delegation it trusts a while); here the server is given the old content
# back, which this host then shows.  The late save must be refused.
# late <late mount> <other writer mount>
late() {
    w=$1 other=$2
    view=/run/zel/export/late/lib/top/config
    mkdir -p "$view"
    printf 'zelvek-config 1\nrevision 1\n' >"$view/config.zel"
    cp "$view/config.zel" /run/zel/late.old
    for m in $w $other; do echo "DEFINE lib /run/zel/m/$m/late/lib" >"/run/zel/late.$m.lib"; done
    as "$w" "$bin/nfs_client" late "/run/zel/late.$w.lib" /run/zel/late.go >/run/zel/late.out 2>&1 &
    pending=$!
    for i in $(seq 100); do grep -q opened /run/zel/late.out && break; sleep 0.1; done
    as "$other" "$bin/nfs_client" write "/run/zel/late.$other.lib" B 1 >>"$out/guest.log" 2>&1
    cp /run/zel/late.old "$view/config.zel"
    touch /run/zel/late.go
    check "a late save on $w after $other saved is refused" wait $pending
    cat /run/zel/late.out >>"$out/guest.log"
}
late nl v4b

# New names: an NFSv3 and an NFSv4.2 host save as to the same new names at
# once.  For each name one save answers true, the other false; the file holds
# the one that answered true.
newnames() {
    w0=$1 w1=$2 names=200
    mkdir -p /run/zel/export/new/lib
    for m in $w0 $w1; do echo "DEFINE lib /run/zel/m/$m/new/lib" >"/run/zel/new.$m.lib"; done
    as "$w0" "$bin/nfs_client" newnames "/run/zel/new.$w0.lib" A $names /run/zel/new.go >/run/zel/new.A 2>>"$out/guest.log" &
    a=$!
    as "$w1" "$bin/nfs_client" newnames "/run/zel/new.$w1.lib" B $names /run/zel/new.go >/run/zel/new.B 2>>"$out/guest.log" &
    b=$!
    sleep 1
    touch /run/zel/new.go
    wa=0 wb=0
    wait $a || wa=$?
    wait $b || wb=$?
    both=$(sort /run/zel/new.A /run/zel/new.B | uniq -d | wc -l)
    all=$(sort -u /run/zel/new.A /run/zel/new.B | wc -l)
    wrong=0
    for who in A B; do
        for n in $(cat /run/zel/new.$who); do
            grep -q "constant WHO $who" /run/zel/export/new/lib/$n/config/config.zel || wrong=$((wrong + 1))
        done
    done
    note "FIGURES new names ($w0, $w1): $(wc -l </run/zel/new.A) + $(wc -l </run/zel/new.B) of $names saved, $both saved by both, $wrong files not the saver's"
    [ $wa -eq 0 ] && [ $wb -eq 0 ] && [ "$both" -eq 0 ] && [ "$all" -eq $names ] && [ $wrong -eq 0 ] &&
        note "PASS new names: of two hosts ($w0, $w1) one save answers true" ||
        note "FAIL new names ($w0, $w1): exit $wa and $wb, $both saved by both, $all of $names saved, $wrong wrong"
}
newnames v3a v4b

# The library's save tests with their scratch folders on the mounts.
for m in v3a v4a nl; do
    start=$(elapsed)
    check "save tests on $m" env TMPDIR=/run/zel/m/$m/tmp "$bin/zelvek_tests" --gtest_brief=1 \
        --gtest_filter='SharedSave*:FileSafety*:*SaveFault*:Leftover*'
    note "FIGURES save tests on $m: $(awk "BEGIN { print $(elapsed) - $start }") s"
done

#!/usr/bin/env bash
# A private CUPS scheduler for the printing tests:   cups-test-server.sh FOLDER
# Writes a scheduler configuration of its own into FOLDER (an empty folder that the caller
# owns and removes afterwards) and runs cupsd in the foreground, listening only on the socket
# FOLDER/cups.sock; clients reach it with CUPS_SERVER=FOLDER/cups.sock. Nothing outside FOLDER
# is written: the system's queues, default printer, /etc/cups and a running system scheduler
# are left alone. Stop it with SIGTERM; it also ends when the process that started it ends.
#
# Queues, all PostScript printers whose jobs the backend lv26-file writes into FOLDER/out as
# <title>-job_<id>.ps (characters other than letters, digits, '.', '_' and '-' in the title
# become '_'):
#   Lv26-Letter    Letter and A4, A4 current (the default printer of this scheduler)
#   Lv26-A4        A4 only
#   Lv26-Rejecting Letter and A4, rejecting every job
# Exit status 3: CUPS cannot run here (the reason is on standard error); 1: the set-up failed;
# otherwise cupsd's own.
set -uo pipefail
export LC_ALL=C LANG=C

unavailable() {
    echo "CUPS unavailable: $*" >&2
    exit 3
}
failed() {
    echo "CUPS set-up failed: $*" >&2
    exit 1
}

[ $# -eq 1 ] && [ -d "$1" ] || failed "usage: $0 FOLDER"
top=$(cd "$1" && pwd) || failed "cannot enter $1"
system_bin=/usr/lib/cups
command -v cupsd >/dev/null || unavailable "cupsd not installed"
[ -x $system_bin/daemon/cups-exec ] || unavailable "$system_bin/daemon/cups-exec missing"
[ -x $system_bin/filter/pstops ] || unavailable "the CUPS PostScript filters are not installed"
[ -d /usr/share/cups/mime ] || unavailable "/usr/share/cups/mime missing"
command -v setpriv >/dev/null || unavailable "setpriv not installed"
# An enforced AppArmor profile of cupsd lets it run no backend of ours.
profiles=/sys/kernel/security/apparmor/profiles
if [ -r $profiles ] && grep -q '^/usr/sbin/cupsd (enforce)' $profiles; then
    unavailable "AppArmor confines cupsd to the system's backends"
fi

socket=$top/cups.sock
# A local socket's path holds at most 107 bytes.
[ ${#socket} -lt 100 ] || failed "the path of $socket is too long for a socket"

if [ "$(id -u)" -eq 0 ]; then
    # Filters run as lp; the backend, readable by root only, runs as root.
    user=lp group=lp system_group=root
    id lp >/dev/null 2>&1 || unavailable "no user lp to run the filters"
else
    user=$(id -un) group=$(id -gn) system_group=$(id -gn)
fi

# The filters, running as $user, reach the spool and temporary folders through $top.
chmod 0755 "$top" || failed "cannot open $top to the filters"
mkdir -p "$top"/{etc/ppd,bin/backend,spool/tmp,cache,state,log,out} ||
    failed "cannot create the folders in $top"
chmod 0755 "$top"/{etc,bin,bin/backend,out}
# The scheduler's programs are the system's, except for the backends: only ours.
for dir in cgi-bin daemon driver filter monitor notifier; do
    [ -e $system_bin/$dir ] && ln -sfn $system_bin/$dir "$top/bin/$dir"
done

cat >"$top/bin/backend/lv26-file" <<'BACKEND'
#!/bin/sh
# lv26-file:/FOLDER - writes each job into FOLDER as <title>-job_<id>.ps, whole or not at all.
# Arguments: job-id user title copies options [file]; none: list no devices.
[ $# -eq 0 ] && exit 0
dir=${DEVICE_URI#lv26-file:}
name=$(printf '%s' "$3" | tr -c 'A-Za-z0-9._-' '_')-job_$1
part=$dir/.$name.part
if [ $# -ge 6 ]; then cat -- "$6"; else cat; fi >"$part" && mv -f -- "$part" "$dir/$name.ps" || exit 1
BACKEND
# Run as root (when the scheduler is) because only root may read it.
chmod 0700 "$top/bin/backend/lv26-file"

cat >"$top/etc/cups-files.conf" <<CONF
ServerRoot $top/etc
ServerBin $top/bin
DataDir /usr/share/cups
DocumentRoot /usr/share/cups/doc-root
RequestRoot $top/spool
TempDir $top/spool/tmp
CacheDir $top/cache
StateDir $top/state
ServerKeychain $top/etc/ssl
CreateSelfSignedCerts no
AccessLog $top/log/access_log
ErrorLog $top/log/error_log
PageLog $top/log/page_log
Printcap $top/state/printcap
User $user
Group $group
SystemGroup $system_group
FatalErrors config
CONF

cat >"$top/etc/cupsd.conf" <<CONF
LogLevel warn
MaxLogSize 0
Listen $socket
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
PreserveJobFiles No
PreserveJobHistory No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

# A PostScript printer description offering the paper sizes named in $2 ("Letter A4"),
# the first of them current, the whole sheet printable.
write_ppd() {
    local file=$1 model=$2 sizes=($3)
    local -A points=([Letter]="612 792" [A4]="595 842")
    {
        printf '%s\n' '*PPD-Adobe: "4.3"' '*FormatVersion: "4.3"' '*FileVersion: "1.0"' \
            '*LanguageVersion: English' '*LanguageEncoding: ISOLatin1' \
            '*PCFileName: "LV26TEST.PPD"' '*Manufacturer: "Lv26"' \
            '*Product: "(Lv26 Test Printer)"' "*ModelName: \"$model\"" \
            "*ShortNickName: \"$model\"" "*NickName: \"$model\"" \
            '*PSVersion: "(3010.000) 0"' '*LanguageLevel: "3"' '*ColorDevice: True' \
            '*DefaultColorSpace: RGB' '*FileSystem: False' '*Throughput: "1"' \
            '*LandscapeOrientation: Plus90' '*TTRasterizer: Type42'
        local keyword
        for keyword in PageSize PageRegion; do
            printf '*OpenUI *%s: PickOne\n*OrderDependency: 10 AnySetup *%s\n' \
                "$keyword" "$keyword"
            printf '*Default%s: %s\n' "$keyword" "${sizes[0]}"
            local size
            for size in "${sizes[@]}"; do
                printf '*%s %s: "<</PageSize[%s]/ImagingBBox null>>setpagedevice"\n' \
                    "$keyword" "$size" "${points[$size]}"
            done
            printf '*CloseUI: *%s\n' "$keyword"
        done
        printf '*DefaultImageableArea: %s\n*DefaultPaperDimension: %s\n' "${sizes[0]}" "${sizes[0]}"
        for size in "${sizes[@]}"; do
            printf '*ImageableArea %s: "0 0 %s"\n*PaperDimension %s: "%s"\n' \
                "$size" "${points[$size]}" "$size" "${points[$size]}"
        done
        printf '%s\n' '*DefaultFont: Courier' '*Font Courier: Standard "(002.004S)" Standard ROM'
    } >"$file"
}

# printer KIND NAME DESCRIPTION ACCEPTING PAPERS: one queue of printers.conf and its PPD.
printer() {
    write_ppd "$top/etc/ppd/$2.ppd" "Lv26 test printer $5" "$5"
    printf '<%s %s>\nInfo %s\nDeviceURI lv26-file:%s\nState Idle\nAccepting %s\n' \
        "$1" "$2" "$3" "$top/out" "$4"
    printf 'Shared No\nErrorPolicy abort-job\nOpPolicy default\n</%s>\n' "$1"
}
{
    printer DefaultPrinter Lv26-Letter "Lv26 test printer (Letter and A4)" Yes "A4 Letter"
    printer Printer Lv26-A4 "Lv26 test printer (A4 only)" Yes "A4"
    printer Printer Lv26-Rejecting "Lv26 test printer (rejecting jobs)" No "A4 Letter"
} >"$top/etc/printers.conf"

errors=$(cupsd -t -c "$top/etc/cupsd.conf" -s "$top/etc/cups-files.conf" 2>&1) ||
    failed "cupsd rejects the configuration: $errors"
# Ends with the process that started it, even one that is killed.
exec setpriv --pdeathsig KILL cupsd -f -c "$top/etc/cupsd.conf" -s "$top/etc/cups-files.conf"

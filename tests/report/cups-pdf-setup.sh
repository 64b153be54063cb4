#!/usr/bin/env bash
# Makes a CUPS queue that prints into PDF files, for the printing tests:
#   cups-pdf-setup.sh [QUEUE [FOLDER]]     (defaults: Lv26-PDF, /var/spool/cups-pdf/lv26)
# Starts the scheduler when it is not running (as root), creates or repairs the queue with the
# cups-pdf backend and a configuration of its own that writes every job into FOLDER, and prints
# FOLDER on success. Exit status 0: the queue is ready; 3: CUPS cannot run here (the reason is
# on standard error); anything else: the set-up failed.
# The queue's configuration is /etc/cups/cups-pdf-QUEUE.conf, chosen by the device URI
# cups-pdf:/QUEUE, so the system's own cups-pdf settings stay untouched. FOLDER lies under
# /var/spool/cups-pdf, where the distribution's AppArmor profile lets the backend write.
set -uo pipefail
# Tool messages are parsed: keep them untranslated.
export LC_ALL=C LANG=C

queue=${1:-Lv26-PDF}
out=${2:-/var/spool/cups-pdf/lv26}
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
conf=/etc/cups/cups-pdf-$queue.conf
uri=cups-pdf:/$queue

unavailable() {
    echo "CUPS unavailable: $*" >&2
    exit 3
}
failed() {
    echo "CUPS set-up failed: $*" >&2
    exit 1
}

for tool in lpstat lpadmin cupsenable cupsaccept; do
    command -v "$tool" >/dev/null || unavailable "$tool not installed"
done
[ -e /usr/lib/cups/backend/cups-pdf ] || unavailable "the cups-pdf backend is not installed"
root=false
[ "$(id -u)" -eq 0 ] && root=true

scheduler_running() { lpstat -r 2>/dev/null | grep -q 'is running'; }

start_scheduler() {
    command -v cupsd >/dev/null || unavailable "cupsd not installed"
    # A scheduler that is still starting would lose its socket to a second one.
    if ! ps -C cupsd -o stat= 2>/dev/null | grep -qv '^Z'; then
        $root || unavailable "the scheduler is not running and only root can start it"
        cupsd || unavailable "cupsd did not start"
    fi
    for _ in $(seq 50); do
        scheduler_running && return 0
        sleep 0.2
    done
    unavailable "cupsd started but does not answer"
}

# The backend runs under the scheduler's AppArmor profile, which does not let it read a
# queue's own configuration: switch that profile to complain mode where it is enforced.
relax_apparmor() {
    local profiles=/sys/kernel/security/apparmor/profiles
    [ -r $profiles ] && grep -q 'backend/cups-pdf (enforce)' $profiles || return 0
    command -v apparmor_parser >/dev/null &&
        apparmor_parser -C -r /etc/apparmor.d/usr.sbin.cupsd >/dev/null 2>&1 ||
        failed "AppArmor enforces the cups-pdf profile and it could not be relaxed"
}

queue_uri() { lpstat -v "$queue" 2>/dev/null | sed -n 's/^device for [^:]*: //p'; }

write_config() {
    local wanted
    # File naming comes from the queue's options (set_options), which take precedence.
    wanted=$(printf '%s\n' "# Written by cups-pdf-setup.sh for the printing tests." \
        "Out $out" "AnonDirName $out" "UserUMask 0022")
    [ -f "$conf" ] && [ "$(cat "$conf")" = "$wanted" ] && return 0
    printf '%s\n' "$wanted" >"$conf" || failed "cannot write $conf"
}

make_queue() {
    local model=(-m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd)
    [ -f $ppd ] && model=(-P $ppd)
    local errors
    # lpadmin warns that drivers are deprecated; only its status tells a failure.
    errors=$(lpadmin -p "$queue" -v "$uri" "${model[@]}" -D "Lv26 test printer (PDF files)" \
        -E 2>&1) || failed "lpadmin: $errors"
}

# Files are named after the job's name (not a title found in the document), and a failed
# job is dropped instead of stopping the queue.
set_options() {
    lpadmin -p "$queue" -o TitlePref=1 -o printer-error-policy=abort-job >/dev/null 2>&1 ||
        failed "cannot set the options of $queue"
}

# Two test programs may set up at once: one at a time.
if { exec 9>>/tmp/lv26-cups-pdf-setup.lock; } 2>/dev/null; then
    flock -w 30 9 || failed "another set-up holds the lock"
fi
scheduler_running || start_scheduler
if $root; then
    relax_apparmor
    mkdir -p "$out" && chmod 1777 "$out" || failed "cannot create $out"
    write_config
    [ "$(queue_uri)" = "$uri" ] || make_queue
    set_options
    # A queue stopped by an earlier failed job would hold every job back.
    cupsenable "$queue" && cupsaccept "$queue" || failed "cannot enable $queue"
    # Files older than a day are left-overs of runs that were killed.
    find "$out" -maxdepth 1 -name '*.pdf' -mmin +1440 -delete 2>/dev/null
else
    [ "$(queue_uri)" = "$uri" ] || unavailable "queue $queue missing and only root can create it"
    [ -r "$conf" ] && [ -d "$out" ] && [ -w "$out" ] || unavailable "$out is not usable"
    lpstat -p "$queue" 2>/dev/null | grep -q disabled && unavailable "queue $queue is disabled"
fi
echo "$out"

#!/usr/bin/env bash
# Memory and threads of each windowed program, twice: showing its usage text
# (-h, no audio) and after SECONDS (default 10) measuring a JACK loop on a
# private server (dummy backend, 48000 Hz, period 256, loop cable connected).
# Per state: resident memory (VmRSS, split into anonymous, file-backed and
# shared memory), the proportional share (Pss, shared pages divided among the
# processes that map them), the threads by name, and the resident memory by
# kind of mapping.
#
#   tools/memory_use.sh [SECONDS] [PROGRAM...]     (after tools/build.sh)
#   BUILD=DIR tools/memory_use.sh ...              the programs built in DIR
set -eu
cd "$(dirname "$0")/.."
. tools/rig.sh
trap rig_cleanup EXIT
seconds=10
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds="$1"; shift; fi
programs=("$@")
[ ${#programs[@]} -gt 0 ] || programs=(karvel tessaly orbisca morvane)
build="${BUILD:-build}"
[ -n "${DISPLAY:-}" ] || rig_xvfb_start

mb() { awk -v kb="${1:-0}" 'BEGIN { printf "%.1f", kb / 1024 }'; }

# Resident kB by kind of mapping, from /proc/PID/smaps: JACK's shared memory,
# other shared memory, the heap, anonymous mappings (thread stacks, malloc
# arenas, libraries' buffers), the main stack, and file-backed mappings
# (libraries), the three largest of these by name.
mapping_kinds() {
    awk '
        /^[0-9a-f]+-[0-9a-f]+ / {
            path = $6
            if (path == "" || path ~ /^\[(anon|stack:)/) kind = "anonymous"
            else if (path ~ /^\/dev\/shm\/jack/) kind = "JACK shared memory"
            else if (path ~ /^\/(dev\/shm|SYSV|memfd)/) kind = "other shared memory"
            else if (path ~ /^\[/) kind = substr(path, 2, length(path) - 2)
            else { kind = "files"; n = split(path, part, "/"); file = part[n] }
            next
        }
        $1 == "Rss:" { rss[kind] += $2; if (kind == "files") by_file[file] += $2 }
        END {
            for (k in rss) printf "%d\tkind\t%s\n", rss[k], k
            for (f in by_file) printf "%d\tfile\t%s\n", by_file[f], f
        }' "/proc/$1/smaps" | sort -rn | awk -F'\t' '
        $2 == "kind" && $1 >= 100 { printf "    %-20s %6.1f MiB\n", $3, $1 / 1024 }
        $2 == "file" && ++files <= 4 { top = top sprintf("%s%s %.1f", sep, $3, $1 / 1024); sep = ", " }
        END { print "    largest files: " top " MiB" }'
}

report() {
    local program="$1" state="$2" pid="$3"
    local rss anon file shmem pss threads names
    rss=$(rig_proc_status "$pid" VmRSS)
    anon=$(rig_proc_status "$pid" RssAnon)
    file=$(rig_proc_status "$pid" RssFile)
    shmem=$(rig_proc_status "$pid" RssShmem)
    pss=$(awk '$1 == "Pss:" { print $2 }' "/proc/$pid/smaps_rollup")
    threads=$(rig_proc_status "$pid" Threads)
    names=$(cat /proc/"$pid"/task/*/comm | sort | uniq -c | awk '{ printf "%s%s×%s", sep, $2, $1; sep = ", " }')
    echo "$program $state: VmRSS $(mb "$rss") MiB (anonymous $(mb "$anon"), files $(mb "$file")," \
         "shared memory $(mb "$shmem")), Pss $(mb "$pss") MiB, $threads threads ($names)"
    mapping_kinds "$pid"
}

for program in "${programs[@]}"; do
    binary=$(rig_program_binary "$build" "$program")
    [ -x "$binary" ] || { echo "$program: not built in $build" >&2; continue; }

    "$binary" -h &
    pid=$!
    sleep 3
    report "$program" "-h" "$pid"
    kill -TERM "$pid"
    rig_wait_exit "$pid" 5

    rig_jack_start "memory-$program-$$" 256
    rig_loop_start "$binary"
    sleep "$seconds"
    report "$program" "measuring" "$RIG_LOOP_PID"
    kill -TERM "$RIG_LOOP_PID"
    rig_wait_exit "$RIG_LOOP_PID" 5
    rig_jack_stop
done

#!/usr/bin/env bash
# lorvanta-cli against the usual download tools, over the same photo addresses of one large account of the
# bundled album service (with a per-reply latency, as a real server has):
#
#   lorvanta-cli download --jobs 1   beside   wget -q -i urls.txt
#   lorvanta-cli download --jobs J   beside   aria2c -j J -i urls.txt
#   lorvanta-cli download --jobs J   beside   curl -Z --parallel-max J (every address with its own file)
#   lorvanta-cli download --update   on an unchanged copy, beside the full download (when it has --update:
#                                    a first --update makes the copy, a second one finds nothing to do)
#   lorvanta-cli download --jobs 1   with the copy's offline viewer, beside the same without (--no-viewer):
#                                    the share of the download's time that the viewer adds
#   lorvanta-cli download --jobs J   beside the same command of an earlier build (--baseline CLI), plain and
#                                    with --update: what a change costs (the durable writes: at most 5 %)
#
# or, with --scale, only the 100,000-photo account (20100: 500 albums of 200 photos) through the program's
# own steps: a download, --update with nothing new, verify, and the viewer's build (then its rebuild), each
# with its wall time, CPU time and peak memory; the viewer's build must stay under 100 MB.
#
# and the peak memory of every lorvanta-cli run (GNU time's "Maximum resident set size"). The photo
# addresses come from the photo lists, read with curl, so the tools fetch exactly what the program fetches.
# Prints photos/s, the ratios and whether each target is met; exit status 1 when a download went wrong.
#
# usage: bench/cli/run.sh [--build DIR] [--qq QQ] [--albums N] [--latency-ms N] [--jobs J] [--retries N]
#                         [--runs N] [--baseline CLI] [--keep] [--scale]
#   --build DIR     build folder with cli/lorvanta-cli and tools/albumd/albumd (default: build-bench, else build)
#   --qq QQ         account (default 20000: 50 albums of 200 photos)
#   --albums N      only the first N albums, for a shorter run
#   --latency-ms N  albumd's delay before every reply (default 5)
#   --jobs J        parallel fetches of the second pair (default 8)
#   --retries N     passed on to lorvanta-cli
#   --runs N        measure every pair N times, alternating which tool goes first (default 1)
#   --baseline CLI  another lorvanta-cli (an earlier build) to measure this one against
#   --keep          keep the work folder (downloads, urls.txt, albumd's log)
#   --scale         the 100,000-photo account instead (latency 0 unless --latency-ms; --jobs for the
#                   download; the other options do not apply); needs about 1 GB of disk
# wget, aria2c and GNU time come with LORVANTA_WITH_EXTRAS=1 scripts/install-deps; a missing one is skipped.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=""
qq=20000
albums=0
latency=5
jobs=8
retries=""
runs=1
keep=0
baseline=""
scale=0
latency_given=0

die() { echo "run.sh: $*" >&2; exit 2; }
number() { [[ "$2" =~ ^[0-9]+$ ]] || die "$1 takes a whole number"; }
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=${2:?--build needs a value}; shift 2 ;;
    --qq) qq=${2:?--qq needs a value}; number "$1" "$qq"; shift 2 ;;
    --albums) albums=${2:?--albums needs a value}; number "$1" "$albums"; shift 2 ;;
    --latency-ms) latency=${2:?--latency-ms needs a value}; number "$1" "$latency"; latency_given=1; shift 2 ;;
    --jobs) jobs=${2:?--jobs needs a value}; number "$1" "$jobs"; shift 2 ;;
    --retries) retries=${2:?--retries needs a value}; number "$1" "$retries"; shift 2 ;;
    --runs) runs=${2:?--runs needs a value}; number "$1" "$runs"; [ "$runs" -ge 1 ] || die "--runs must be at least 1"; shift 2 ;;
    --baseline) baseline=${2:?--baseline needs a value}; [ -x "$baseline" ] || die "no program $baseline"; shift 2 ;;
    --keep) keep=1; shift ;;
    --scale) scale=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument: $1 (try --help)" ;;
  esac
done
# The scale run measures the program at size, not the network: no delay unless one is asked for.
[ "$scale" = 1 ] && [ "$latency_given" = 0 ] && latency=0
if [ -z "$build" ]; then
  build=$repo/build-bench
  [ -x "$build/cli/lorvanta-cli" ] || build=$repo/build
fi
cli=$build/cli/lorvanta-cli
albumd=$build/tools/albumd/albumd
[ -x "$cli" ] || die "no $cli: build first (cmake --build $build)"
[ -x "$albumd" ] || die "no $albumd: build first (it needs libcpp-httplib-dev)"
command -v curl >/dev/null || die "curl is needed to read the photo lists"

have() { command -v "$1" >/dev/null 2>&1; }
gnutime=""
if [ -x /usr/bin/time ] && [[ $(/usr/bin/time -v true 2>&1) == *"Maximum resident set size"* ]]; then
  gnutime=/usr/bin/time
fi
cli_help=$("$cli" --help)
cli_has() { grep -q -e "$1" <<<"$cli_help"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lorvanta-cli-bench-XXXXXX")
albumd_pid=""
cleanup() {
  if [ -n "$albumd_pid" ]; then kill "$albumd_pid" 2>/dev/null || true; wait "$albumd_pid" 2>/dev/null || true; fi
  if [ "$keep" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- the service -----------------------------------------------------------------------------------------
log=$work/albumd.log
"$albumd" --latency-ms "$latency" --log "$log" >"$work/albumd.out" 2>"$work/albumd.err" &
albumd_pid=$!
host=""
for _ in $(seq 100); do
  host=$(head -1 "$work/albumd.out" 2>/dev/null || true)
  [ -n "$host" ] && break
  kill -0 "$albumd_pid" 2>/dev/null || die "albumd did not start: $(cat "$work/albumd.err")"
  sleep 0.05
done
[ -n "$host" ] || die "albumd printed no address"

# --- --scale: the 100,000-photo account ------------------------------------------------------------------
# A block of its own (its own measuring too), run instead of everything below: the account's copy is made
# by a full download that writes the manifests (--write-metadata), so that --update has them to go by and
# verify has them to check; the viewer is built by `lorvanta-cli viewer`, as for a copy made without it.
scale_run() {
  local sqq=20100 folder=$work/scale
  local sroot="$folder/${sqq}的相册"
  local extra=() s_fail=0 s_summary=()
  if cli_has --max-requests-per-minute; then extra+=(--max-requests-per-minute 0); fi
  if [ -n "$retries" ] && cli_has --retries; then extra+=(--retries "$retries"); fi
  # scale_step NAME CMD...: runs CMD, sets s_status, s_secs, s_cpu (user + system, "" without GNU time),
  # s_rss_kb and s_photo_requests (the photos albumd served meanwhile).
  scale_step() {
    local name=$1 before start end
    shift
    before=$(wc -l <"$log")
    start=$(date +%s.%N)
    set +e
    if [ -n "$gnutime" ]; then
      "$gnutime" -v -o "$work/$name.time" "$@" >"$work/$name.out" 2>"$work/$name.err"
    else
      "$@" >"$work/$name.out" 2>"$work/$name.err"
    fi
    s_status=$?
    set -e
    end=$(date +%s.%N)
    s_secs=$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.2f", b - a}')
    s_photo_requests=$(tail -n +"$((before + 1))" "$log" | grep -c '^GET /photos/' || true)
    s_cpu="" s_rss_kb=""
    if [ -n "$gnutime" ]; then
      s_cpu=$(awk -F': *' '/User time/{u=$2} /System time/{s=$2} END{printf "%.2f", u + s}' "$work/$name.time")
      s_rss_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$work/$name.time")
    fi
  }
  scale_line() { # WHAT
    printf '  %-32s %8s s wall' "$1" "$s_secs"
    [ -n "$s_cpu" ] && printf '  %8s s CPU  peak RSS %6.1f MB' "$s_cpu" "$(awk -v k="$s_rss_kb" 'BEGIN{print k/1024}')"
    printf '\n'
  }
  scale_fail() { echo "  FAILED: $*"; s_fail=$((s_fail + 1)); }

  echo "scale: account $sqq (500 albums of 200 photos); albumd $host, latency $latency ms per reply; --jobs $jobs"
  mkdir -p "$folder"
  scale_step scale-download "$cli" download "$sqq" --to "$folder" --route-host "$host" --quiet --json \
    --no-viewer --write-metadata --jobs "$jobs" "${extra[@]}"
  local ok
  ok=$(grep -o '"photosOk":[0-9]*' "$work/scale-download.out" | head -1 | cut -d: -f2)
  [ "$s_status" = 0 ] || scale_fail "the download ended with status $s_status: $(head -3 "$work/scale-download.err")"
  [ "${ok:-0}" = 100000 ] || scale_fail "the download saved ${ok:-0} of 100000 photos"
  scale_line "download (${ok:-0} photos)"

  scale_step scale-update "$cli" download "$sqq" --to "$folder" --route-host "$host" --quiet --json \
    --no-viewer --update --jobs "$jobs" "${extra[@]}"
  [ "$s_status" = 0 ] || scale_fail "--update ended with status $s_status: $(head -3 "$work/scale-update.err")"
  scale_line "--update, nothing new"
  s_summary+=("--update with nothing new fetched $s_photo_requests photos; target none: $([ "$s_photo_requests" = 0 ] && echo met || echo "NOT met")")

  scale_step scale-verify "$cli" verify "$sroot" --quiet
  [ "$s_status" = 0 ] || scale_fail "verify found problems in the copy: $(head -3 "$work/scale-verify.out")"
  scale_line "verify"

  scale_step scale-viewer "$cli" viewer "$sroot"
  [ "$s_status" = 0 ] || scale_fail "the viewer's build ended with status $s_status: $(head -3 "$work/scale-viewer.err")"
  [ -f "$sroot/index.html" ] || scale_fail "the viewer's build left no index.html"
  grep -q 'thumbnails made 100000,' "$work/scale-viewer.out" ||
    scale_fail "the viewer's build did not make 100000 thumbnails: $(grep thumbnails "$work/scale-viewer.out")"
  scale_line "viewer build (100000 thumbnails)"
  if [ -n "$s_rss_kb" ]; then
    local mb
    mb=$(awk -v k="$s_rss_kb" 'BEGIN{printf "%.1f", k/1024}')
    s_summary+=("viewer build of 100,000 photos: $s_secs s wall, $s_cpu s CPU, peak RSS $mb MB; target under 100 MB: $(awk -v m="$mb" 'BEGIN{print (m < 100 ? "met" : "NOT met")}')")
  else
    s_summary+=("viewer build of 100,000 photos: $s_secs s wall; peak RSS not measured: GNU time is not installed (Debian package time)")
  fi

  scale_step scale-viewer-again "$cli" viewer "$sroot"
  [ "$s_status" = 0 ] || scale_fail "the viewer's rebuild ended with status $s_status"
  grep -q 'thumbnails made 0,' "$work/scale-viewer-again.out" || scale_fail "the viewer's rebuild made thumbnails again"
  scale_line "viewer rebuild (nothing to make)"

  echo "summary"
  for s in "${s_summary[@]}"; do echo "  $s"; done
  [ "$keep" = 1 ] || rm -rf "${folder:?}"
  if [ "$s_fail" -gt 0 ]; then
    echo "$s_fail step(s) went wrong: the figures above are not comparable" >&2
    return 1
  fi
}
if [ "$scale" = 1 ]; then
  scale_status=0
  scale_run || scale_status=$?
  exit "$scale_status"
fi

# --- the photo addresses, from the photo lists -----------------------------------------------------------
"$cli" preview "$qq" --route-host "$host" --json >"$work/preview.json" || die "the preview of $qq failed"
# Each album of the JSON summary as "id priv"; the ids of the generated accounts are plain ASCII.
grep -o '"id":"[^"]*","priv":"[^"]*"' "$work/preview.json" | sed 's/"id":"\([^"]*\)","priv":"\([^"]*\)"/\1 \2/' \
  >"$work/albums.txt"
[ "$albums" -gt 0 ] && { head -n "$albums" "$work/albums.txt" >"$work/albums.cut"; mv "$work/albums.cut" "$work/albums.txt"; }
album_args=()
: >"$work/urls.txt"
while read -r id priv; do
  [ "$albums" -gt 0 ] && album_args+=(--album "$id")
  # The program's rule: priv 1 lists through fcg_list_photo, every other through cgi_view_album.
  if [ "$priv" = 1 ]; then
    list="http://$host/fcgi-bin/fcg_list_photo?uin=$qq&albumid=$id"
  else
    list="http://$host/cgi-bin/common/cgi_view_album?uin=$qq&refer=portal&albumid=$id"
  fi
  curl -sf "$list" | tr -d '\r\n' | grep -o '<url>[^<]*\(<!\[CDATA\[[^]]*\]\]>\)\{0,1\}</url>' |
    sed 's/<url>//; s/<\/url>//; s/<!\[CDATA\[//; s/\]\]>//; s/&amp;/\&/g' >>"$work/urls.txt" ||
    die "the photo list of album $id was not read"
done <"$work/albums.txt"
photos=$(wc -l <"$work/urls.txt")
[ "$photos" -gt 0 ] || die "the photo lists of $qq hold no addresses"
album_count=$(wc -l <"$work/albums.txt")
echo "account $qq: $album_count albums, $photos photos; albumd $host, latency $latency ms per reply; $runs run(s)"

# --- measuring -------------------------------------------------------------------------------------------
# measure NAME FOLDER CMD...: runs CMD, sets m_secs, m_requests, m_photo_requests, m_rss_kb (GNU time,
# "" without it), m_status; the figures of the albumd log are the lines this run added.
measure() {
  local name=$1 folder=$2
  shift 2
  local before start end
  mkdir -p "$folder"
  before=$(wc -l <"$log")
  start=$(date +%s.%N)
  set +e
  if [ -n "$gnutime" ]; then
    "$gnutime" -v -o "$work/$name.time" "$@" >"$work/$name.out" 2>"$work/$name.err"
  else
    "$@" >"$work/$name.out" 2>"$work/$name.err"
  fi
  m_status=$?
  set -e
  end=$(date +%s.%N)
  m_secs=$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.3f", b - a}')
  m_requests=$(($(wc -l <"$log") - before))
  m_photo_requests=$(tail -n +"$((before + 1))" "$log" | grep -c '^GET /photos/' || true)
  m_rss_kb=""
  [ -n "$gnutime" ] && m_rss_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$work/$name.time")
  return 0
}

failures=0
fail() { echo "  FAILED: $*"; failures=$((failures + 1)); }
files_in() { find "$1" -type f ! -name '*.aria2' | wc -l; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN{printf "%.1f", (s > 0 ? n / s : 0)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.3f", (b > 0 ? a / b : 0)}'; }
line() { # WHO SECS FILES REQUESTS [RSS_KB]
  printf '  %-22s %8.2f s  %6d photos  %6d requests  %8s photos/s' "$1" "$2" "$3" "$4" "$(rate "$3" "$2")"
  [ -n "${5:-}" ] && printf '  peak RSS %6.1f MB' "$(awk -v k="$5" 'BEGIN{print k/1024}')"
  printf '\n'
}
peak_rss_kb=0
note_rss() { [ -n "$1" ] && [ "$1" -gt "$peak_rss_kb" ] && peak_rss_kb=$1; return 0; }

# cli_args FOLDER JOBS [more options]: the lorvanta-cli download command line, in cargs
cli_args() {
  local folder=$1 j=$2
  shift 2
  cargs=("$cli" download "$qq" --to "$folder" --route-host "$host" --quiet --json "${album_args[@]}")
  if cli_has --jobs; then cargs+=(--jobs "$j"); fi
  # The peers only download: the copy's offline viewer is another job (measured on its own below, and by
  # bench/viewer). with_viewer=1 keeps it.
  if [ "${with_viewer:-0}" != 1 ] && cli_has --no-viewer; then cargs+=(--no-viewer); fi
  if [ -n "$retries" ] && cli_has --retries; then cargs+=(--retries "$retries"); fi
  cargs+=("$@")
}
# photosOk of the JSON summary in a run's output
photos_ok() { grep -o '"photosOk":[0-9]*' "$work/$1.out" | head -1 | cut -d: -f2; }

check_cli() { # NAME
  local ok
  ok=$(photos_ok "$1")
  [ "$m_status" = 0 ] || fail "$1 ended with status $m_status: $(head -3 "$work/$1.err")"
  [ "${ok:-0}" = "$photos" ] || fail "$1 downloaded ${ok:-0} of $photos photos"
}

pair() { # RUN J TOOL-NAME TOOL-CMD...   (J = lorvanta-cli's --jobs)
  local run=$1 j=$2 tool=$3
  shift 3
  local cname="cli-jobs$j-$run" tname="$tool-$run"
  local c_secs c_req c_rss t_secs t_req t_files
  local order=(cli tool)
  [ $((run % 2)) = 0 ] && order=(tool cli)
  for who in "${order[@]}"; do
    if [ "$who" = cli ]; then
      cli_args "$work/$cname" "$j"
      measure "$cname" "$work/$cname" "${cargs[@]}"
      check_cli "$cname"
      c_secs=$m_secs c_req=$m_requests c_rss=$m_rss_kb
      note_rss "$c_rss"
      if [ "$j" = 1 ] && [ "$run" = 1 ]; then full_secs=$m_secs full_requests=$m_requests; fi
    else
      measure "$tname" "$work/$tname" "$@" "$work/$tname"
      t_files=$(files_in "$work/$tname")
      [ "$m_status" = 0 ] || fail "$tool ended with status $m_status: $(head -3 "$work/$tname.err")"
      [ "$t_files" = "$photos" ] || fail "$tool wrote $t_files of $photos photos"
      t_secs=$m_secs t_req=$m_requests
    fi
  done
  local label="lorvanta-cli --jobs $j"
  cli_has --jobs || label="lorvanta-cli (no --jobs)"
  line "$label" "$c_secs" "$(photos_ok "$cname")" "$c_req" "$c_rss"
  line "$tool" "$t_secs" "$t_files" "$t_req"
  p_ratio=$(ratio "$c_secs" "$t_secs")
  echo "  time lorvanta-cli / $tool: $p_ratio  ($((c_req - t_req)) requests more: route, album list, photo lists)"
  # The copies only cost disk from here on.
  [ "$keep" = 1 ] || rm -rf "${work:?}/$tname" "${work:?}/$cname"
  return 0
}

median() { sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
verdict() { awk -v r="$1" -v lim="$2" 'BEGIN{print (r <= lim ? "met" : "NOT met")}'; }

summary=()
if have wget; then
  ratios=""
  for run in $(seq "$runs"); do
    echo "pair 1, run $run: one photo at a time"
    pair "$run" 1 wget wget -q -i "$work/urls.txt" -P
    ratios+="$p_ratio"$'\n'
  done
  r=$(printf '%s' "$ratios" | median)
  summary+=("lorvanta-cli --jobs 1 / wget time $r (median); target at most 1.050: $(verdict "$r" 1.05)")
else
  echo "wget not installed: pair 1 skipped (LORVANTA_WITH_EXTRAS=1 scripts/install-deps)"
  cli_args "$work/cli-jobs1-1" 1
  measure cli-jobs1-1 "$work/cli-jobs1-1" "${cargs[@]}"
  check_cli cli-jobs1-1
  note_rss "$m_rss_kb"
  line "lorvanta-cli --jobs 1" "$m_secs" "$(photos_ok cli-jobs1-1)" "$m_requests" "$m_rss_kb"
  full_secs=$m_secs full_requests=$m_requests
fi

if have aria2c; then
  ratios=""
  for run in $(seq "$runs"); do
    echo "pair 2, run $run: $jobs photos at a time"
    # -q: no progress output; aria2c renames the many equal file names (0.jpg of every album) itself.
    pair "$run" "$jobs" aria2c aria2c -q -j "$jobs" -i "$work/urls.txt" -d
    ratios+="$p_ratio"$'\n'
  done
  r=$(printf '%s' "$ratios" | median)
  summary+=("lorvanta-cli --jobs $jobs / aria2c -j $jobs time $r (median); target at most 1.000: $(verdict "$r" 1.0)")
else
  echo "aria2c not installed: pair 2 skipped (LORVANTA_WITH_EXTRAS=1 scripts/install-deps)"
fi

if have curl && curl --help all 2>/dev/null | grep -q -e '--parallel-max'; then
  # One config line pair per address: its own output file, so the many equal names (0.jpg of every album)
  # do not overwrite each other. curl runs in the target folder, as pair() names it last.
  awk '{printf "url = \"%s\"\noutput = \"%d.jpg\"\n", $0, NR}' "$work/urls.txt" >"$work/curl.cfg"
  printf '#!/bin/sh\ncd "$2" && exec curl -s -Z --parallel-max "$1" -K "%s"\n' "$work/curl.cfg" >"$work/curl-in"
  chmod +x "$work/curl-in"
  ratios=""
  for run in $(seq "$runs"); do
    echo "pair 3, run $run: $jobs photos at a time"
    pair "$run" "$jobs" curl "$work/curl-in" "$jobs"
    ratios+="$p_ratio"$'\n'
  done
  r=$(printf '%s' "$ratios" | median)
  summary+=("lorvanta-cli --jobs $jobs / curl -Z --parallel-max $jobs time $r (median); target at most 0.900: $(verdict "$r" 0.9)")
else
  echo "curl without -Z: pair 3 skipped"
fi

# --- --update on an unchanged copy -----------------------------------------------------------------------
# --update works from the manifests it writes, so its copy is made by a first --update into an empty
# folder (a full download), then updated again with nothing changed on the server.
if cli_has --update; then
  echo "update: a full download with --update, then --update again with nothing changed"
  cli_args "$work/cli-update" 1 --update
  measure cli-update-full "$work/cli-update" "${cargs[@]}"
  check_cli cli-update-full
  note_rss "$m_rss_kb"
  first_secs=$m_secs first_requests=$m_requests first_photo_requests=$m_photo_requests first_rss=$m_rss_kb
  measure cli-update "$work/cli-update" "${cargs[@]}"
  [ "$m_status" = 0 ] || fail "the second --update ended with status $m_status: $(head -3 "$work/cli-update.err")"
  note_rss "$m_rss_kb"
  left=$(find "$work/cli-update" -mindepth 1 -maxdepth 1 -type d | wc -l)
  [ "$left" = 1 ] || echo "  note: $left folders in the target after --update (a backup of the old copy was made?)"
  line "first --update (full)" "$first_secs" "$first_photo_requests" "$first_requests" "$first_rss"
  line "second --update" "$m_secs" "$m_photo_requests" "$m_requests" "$m_rss_kb"
  line "plain download" "$full_secs" "$photos" "$full_requests"
  u=$(ratio "$m_secs" "$first_secs")
  up=$(ratio "$m_secs" "$full_secs")
  echo "  photos fetched by the second --update: $m_photo_requests; its time / first --update: $u, / plain download: $up"
  summary+=("second --update fetched $m_photo_requests photos ($m_requests requests in all); target none: $([ "$m_photo_requests" = 0 ] && echo met || echo "NOT met")")
  summary+=("second --update / full download time $u (/ plain download $up); target under 0.050: $(verdict "$u" 0.0499)")
  [ "$keep" = 1 ] || rm -rf "${work:?}/cli-update"
else
  summary+=("--update not measured: this lorvanta-cli has no --update yet")
fi
# --- --update on a plain copy (adopted), and verify -----------------------------------------------------
# A copy made by a plain download (no manifests, as the window made them) is updated: every album is
# adopted in its folder and nothing is fetched again; then the copy is checked against its new manifests.
if cli_has --update && cli_has verify; then
  echo "update of a plain copy (adopted), then verify"
  cli_args "$work/cli-plain" 1
  measure cli-plain "$work/cli-plain" "${cargs[@]}"
  check_cli cli-plain
  cli_args "$work/cli-plain" 1 --update
  measure cli-adopt "$work/cli-plain" "${cargs[@]}"
  [ "$m_status" = 0 ] || fail "--update on the plain copy ended with status $m_status: $(head -3 "$work/cli-adopt.err")"
  note_rss "$m_rss_kb"
  line "--update of the plain copy" "$m_secs" "$m_photo_requests" "$m_requests" "$m_rss_kb"
  a=$(ratio "$m_secs" "$full_secs")
  summary+=("--update of a plain copy fetched $m_photo_requests photos; target none: $([ "$m_photo_requests" = 0 ] && echo met || echo "NOT met")")
  summary+=("--update of a plain copy / plain download time $a; target under 0.050: $(verdict "$a" 0.0499)")
  measure cli-verify "$work/cli-plain" "$cli" verify "$work/cli-plain" --quiet
  [ "$m_status" = 0 ] || fail "verify found problems in a fresh copy: $(head -3 "$work/cli-verify.out")"
  per=$(awk -v s="$m_secs" -v n="$photos" 'BEGIN{printf "%.3f", (n > 0 ? s * 1000 / n : 0)}')
  echo "  verify: $m_secs s for $photos photos, $per s per 1,000"
  summary+=("verify: $per s per 1,000 photos")
  [ "$keep" = 1 ] || rm -rf "${work:?}/cli-plain"
fi
# --- the offline viewer's share ---------------------------------------------------------------------------
# The same download with the viewer (thumbnails of every photo, the pages) beside the plain one above;
# alternating which goes first when --runs asks for more than one pair.
if cli_has --no-viewer; then
  shares=""
  for run in $(seq "$runs"); do
    echo "viewer, run $run: the download with its offline viewer, beside the same without"
    with_viewer=1 cli_args "$work/cli-viewer-$run" 1
    viewer_args=("${cargs[@]}")
    cli_args "$work/cli-noviewer-$run" 1
    order=(viewer plain)
    [ $((run % 2)) = 0 ] && order=(plain viewer)
    for who in "${order[@]}"; do
      if [ "$who" = viewer ]; then
        measure "cli-viewer-$run" "$work/cli-viewer-$run" "${viewer_args[@]}"
        check_cli "cli-viewer-$run"
        v_secs=$m_secs v_rss=$m_rss_kb v_req=$m_requests
        [ -f "$(find "$work/cli-viewer-$run" -maxdepth 2 -name index.html | head -1)" ] ||
          fail "the download with the viewer left no index.html"
      else
        measure "cli-noviewer-$run" "$work/cli-noviewer-$run" "${cargs[@]}"
        check_cli "cli-noviewer-$run"
        n_secs=$m_secs n_req=$m_requests
      fi
    done
    line "with the viewer" "$v_secs" "$photos" "$v_req" "$v_rss"
    line "without (--no-viewer)" "$n_secs" "$photos" "$n_req"
    share=$(awk -v v="$v_secs" -v n="$n_secs" 'BEGIN{printf "%.3f", (n > 0 ? (v - n) / n : 0)}')
    echo "  time the viewer adds / the download without it: $share"
    shares+="$share"$'\n'
    [ "$keep" = 1 ] || rm -rf "${work:?}/cli-viewer-$run" "${work:?}/cli-noviewer-$run"
  done
  r=$(printf '%s' "$shares" | median)
  summary+=("the offline viewer adds $r of the download's time (median); target under 0.100: $(verdict "$r" 0.0999)")
fi
[ "$keep" = 1 ] || rm -rf "${work:?}/cli-jobs1-1"

# --- against an earlier build -----------------------------------------------------------------------------
if [ -n "$baseline" ]; then
  for mode in plain update; do
    ratios=""
    for run in $(seq "$runs"); do
      echo "baseline, $mode, run $run: --jobs $jobs, this build beside $baseline"
      more=()
      [ "$mode" = update ] && more=(--update)
      order=(this base)
      [ $((run % 2)) = 0 ] && order=(base this)
      for who in "${order[@]}"; do
        cli_args "$work/b-$who-$run" "$jobs" "${more[@]}"
        [ "$who" = base ] && cargs[0]=$baseline
        measure "b-$who-$run" "$work/b-$who-$run" "${cargs[@]}"
        check_cli "b-$who-$run"
        [ "$who" = this ] && b_this=$m_secs || b_base=$m_secs
        [ "$keep" = 1 ] || rm -rf "${work:?}/b-$who-$run"
      done
      line "this build" "$b_this" "$photos" 0
      line "baseline" "$b_base" "$photos" 0
      ratios+="$(ratio "$b_this" "$b_base")"$'\n'
    done
    r=$(printf '%s' "$ratios" | median)
    summary+=("$mode --jobs $jobs, this build / baseline time $r (median of $runs); target at most 1.050: $(verdict "$r" 1.05)")
  done
fi

if [ -n "$gnutime" ]; then
  rss_mb=$(awk -v k="$peak_rss_kb" 'BEGIN{printf "%.1f", k/1024}')
  summary+=("lorvanta-cli peak RSS $rss_mb MB over every run; target under 30 MB: $(verdict "$rss_mb" 29.999)")
else
  summary+=("peak RSS not measured: GNU time is not installed (Debian package time)")
fi

echo "summary"
for s in "${summary[@]}"; do echo "  $s"; done
if [ "$failures" -gt 0 ]; then
  echo "$failures download(s) went wrong: the figures above are not comparable" >&2
  exit 1
fi

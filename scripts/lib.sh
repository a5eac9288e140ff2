# Shared by the scripts (source it; bash only).

# install_packages PACKAGE...: installs the Debian packages with apt-get, quietly and without
# questions, through sudo unless already root. Says which ones, in the calling script's name.
install_packages() {
  [ $# -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "$(basename "$0"): installing $*"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# use_throwaway_home DIR: points HOME, the XDG folders and TMPDIR into DIR, so that the programs'
# data folder, settings, log file and lock file stay in there and the real profile is untouched.
use_throwaway_home() {
  local home=$1
  mkdir -p "$home"/data "$home"/config "$home"/cache "$home"/tmp
  mkdir -m 700 -p "$home/runtime"
  export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
    XDG_RUNTIME_DIR=$home/runtime TMPDIR=$home/tmp
}

# write_manual_scan_settings ADDRESS...: the window's settings in the throw-away home, with the
# manual scan switched on for up to four addresses, so Scan Network asks exactly those.
write_manual_scan_settings() {
  local dir="$XDG_DATA_HOME/Orvo/Orvo Updater" i
  mkdir -p "$dir"
  {
    echo "[OrvoUpdaterSettings]"
    echo "EnableIPScan=true"
    for i in 1 2 3 4; do echo "ManIP$i=${!i:-000.000.000.000}"; done
  } >"$dir/AppSettings.ini"
}

# wait_for_lines FILE PATTERN COUNT PID: waits up to ten seconds until FILE holds COUNT lines
# matching PATTERN (grep -E); fails at once when process PID has ended, or when time runs out.
wait_for_lines() {
  local file=$1 pattern=$2 count=$3 pid=$4
  for _ in $(seq 100); do
    [ "$(grep -cE "$pattern" "$file" 2>/dev/null || true)" -ge "$count" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$(grep -cE "$pattern" "$file" 2>/dev/null || true)" -ge "$count" ]
}

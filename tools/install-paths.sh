# shellcheck shell=bash disable=SC2034,SC2154
# Sourced by install.sh and uninstall.sh: where an installation lives, and the running helper.
# Expects $prefix (an absolute folder).

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}

install_root="$prefix/lib/tarnwick"
installed_bundle="$install_root/Tarnwick.app"
# Every file the installation wrote, one absolute path a line; uninstall.sh removes exactly these.
manifest="$install_root/install-manifest.txt"
desktop_id=com.tarnwick.Tarnwick.desktop
autostart_entry="$config_home/autostart/com.tarnwick.mac.helper.desktop"
user_data="$data_home/Tarnwick"

# The helper keeps one lock per session and writes its process id into it (see HelperInstanceLock).
helper_lock() {
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
    printf '%s' "$XDG_RUNTIME_DIR/tarnwick-helper.lock"
  else
    printf '%s' "${TMPDIR:-/tmp}/tarnwick-helper-$(id -u).lock"
  fi
}

# Prints the process id of the running helper; fails when none runs.
running_helper_pid() {
  local lock status=0 pid
  lock=$(helper_lock)
  [ -f "$lock" ] && [ ! -L "$lock" ] && [ -O "$lock" ] || return 1
  flock --nonblock --shared --conflict-exit-code 75 "$lock" true || status=$?
  [ "$status" -eq 75 ] || return 1
  read -r pid <"$lock" || return 1
  [[ "$pid" =~ ^[0-9]+$ ]] || return 1
  printf '%s' "$pid"
}

helper_runs_from_installed_bundle() {
  local executable
  executable=$(readlink "/proc/$1/exe" 2>/dev/null) || return 1
  [[ "$executable" == "$install_root/"* ]]
}

# Asks the helper to quit (it stops its runner first) and waits until it has let go of its lock.
stop_helper() {
  local pid=$1 tries=0
  kill -TERM "$pid" 2>/dev/null || return 0
  while running_helper_pid >/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -lt 150 ] || return 1
    sleep 0.1
  done
}

# Removes the files a manifest lists, except those listed in the second file (if given), and the folders
# they leave empty. Only paths under the prefix or the user's data folder are touched, whatever the
# manifest says.
remove_listed_files() {
  local list=$1 keep=${2:-/dev/null} file folder
  while IFS= read -r file || [ -n "$file" ]; do
    [[ "$file" == "$prefix/"* || "$file" == "$data_home/"* ]] || continue
    [[ "$file" != */../* ]] || continue
    grep -qxF -- "$file" "$keep" && continue
    rm -f -- "$file"
    folder=$(dirname -- "$file")
    while [[ "$folder" == "$prefix/"* || "$folder" == "$data_home/"* ]] && rmdir -- "$folder" 2>/dev/null; do
      folder=$(dirname -- "$folder")
    done
  done <"$list"
}

# shellcheck shell=bash disable=SC2034,SC2154
# Sourced by install.sh and uninstall.sh: where an installation lives, and the running helper.
# Expects $prefix (an absolute folder).

app_in_bundle=Contents/MacOS/Tarnwick
helper_in_bundle=Contents/Library/LoginItems/TarnwickHelper.app/Contents/MacOS/TarnwickHelper

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}

install_root="$prefix/lib/tarnwick"
installed_bundle="$install_root/Tarnwick.app"
launcher="$prefix/bin/tarnwick"
# The second line of the launcher, so that uninstall.sh removes only a launcher it wrote.
launcher_marker="# Opens Tarnwick's setup window; written by Tarnwick's install.sh."
applications_dir="$data_home/applications"
desktop_entry="$applications_dir/tarnwick.desktop"
icon_theme="$data_home/icons/hicolor"
icon_scalable="$icon_theme/scalable/apps/tarnwick.svg"
icon_256="$icon_theme/256x256/apps/tarnwick.png"
autostart_entry="$config_home/autostart/com.tarnwick.mac.helper.desktop"
user_data="$data_home/Tarnwick"

# One word for sh, in single quotes.
shell_quoted() {
  printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
}

# One Exec argument of a desktop entry: quoted when it holds a reserved character, with "%" doubled, then
# escaped once more as the entry's string value (a backslash doubled).
desktop_entry_quoted() {
  local argument=${1//%/%%}
  if [[ "$argument" =~ [[:space:]\"\'\\\>\<~\|\&\;\$\*\?\#\(\)\`] ]]; then
    argument=$(printf '%s' "$argument" | sed -e 's/[\\"`$]/\\&/g')
    argument="\"$argument\""
  fi
  printf '%s' "${argument//\\/\\\\}"
}

# Text to put on the right side of a sed "s|…|…|" as it is.
sed_replacement() {
  printf '%s' "$1" | sed -e 's/[\\|&]/\\&/g'
}

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

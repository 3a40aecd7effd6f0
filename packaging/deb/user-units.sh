# shellcheck shell=sh
# user_units ACTION [UNIT...]: `systemctl --user ACTION UNIT...` in the service manager of
# every user who has one running, as that user (its ids and groups, no login). Failures
# are ignored: a user's manager may be stopping, or the unit not loaded there.
user_units() {
  user_units_action=$1
  shift
  for user_units_runtime in /run/user/*; do
    [ -S "$user_units_runtime/systemd/private" ] || continue
    user_units_uid=${user_units_runtime##*/}
    user_units_gid=$(id -g "$user_units_uid" 2>/dev/null) || continue
    setpriv --reuid="$user_units_uid" --regid="$user_units_gid" --init-groups \
      env XDG_RUNTIME_DIR="$user_units_runtime" \
      systemctl --user "$user_units_action" "$@" </dev/null >/dev/null 2>&1 || true
  done
}

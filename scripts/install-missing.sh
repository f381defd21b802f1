# Sourced by the scripts that need Debian packages: install_missing LABEL PACKAGE...
# installs those of the packages that are not installed yet (apt-get update first, only then), as
# root or through sudo, and says which under LABEL. Nothing happens when all are there, so the
# scripts can run again and again, also side by side (apt's lock is waited for).
install_missing() {
  local label=$1
  shift
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "$label: installing ${missing[*]}"
  $sudo apt-get update -qq -o DPkg::Lock::Timeout=600
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    --no-install-recommends "${missing[@]}" >/dev/null
}

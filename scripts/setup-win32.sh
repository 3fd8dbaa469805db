#!/usr/bin/env bash
# Installs what the Windows build and its runs under Wine need, if any is missing: the
# MinGW-w64 cross compiler, Wine (64-bit) and a virtual X display. Kept apart from setup.sh,
# which every CI run uses and which must not pull Wine in. zCompress.dll links zstd and
# libarchive built from Debian's source packages (scripts/build-win32-deps.sh), so apt needs
# deb-src entries for the Debian archive, a fetched source index, and dpkg-source (dpkg-dev).
#
# Safe to run again: each step looks at what is there and does only what is missing, so a
# run that failed half-way (no network, a full disk) is repaired by the next one. The apt
# sources may be in either form: one-line entries (/etc/apt/sources.list, *.list) or deb822
# stanzas (*.sources). QUARRIN_APT_ETC=DIR only writes the deb-src entries for the apt
# configuration in DIR instead of /etc/apt, without installing or asking apt (for checking).
set -Eeuo pipefail
cd "$(dirname "$0")/.."
trap 'echo "setup-win32: failed: $BASH_COMMAND (line $LINENO)" >&2' ERR

packages=(
  g++-mingw-w64-x86-64 cmake ninja-build
  wine64
  xvfb xauth
  dpkg-dev
)

apt_etc="${QUARRIN_APT_ETC:-/etc/apt}"
parts="$apt_etc/sources.list.d"
# The files this script writes; earlier versions wrote the same names.
own_stanzas="$parts/deb-src.sources"
own_lines="$parts/deb-src.list"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The release's code name: source entries are made for its suites (bookworm, bookworm-updates,
# bookworm-security, ...), not for other vendors' archives, which may serve no sources.
codename="$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")" || codename=""

# Whether a file holds any entry (a line that is neither blank nor a comment).
has_entries() { grep -qv '^[[:space:]]*\(#.*\)\?$' "$1" 2>/dev/null; }

# The one-line source files and the deb822 files, in apt's order.
line_files() { ls "$apt_etc/sources.list" "$parts"/*.list 2>/dev/null || true; }
stanza_files() { ls "$parts"/*.sources 2>/dev/null || true; }

# Whether some enabled entry already asks for source packages.
have_deb_src() {
  local file
  for file in $(line_files); do
    grep -q '^[[:space:]]*deb-src[[:space:]]' "$file" && return 0
  done
  for file in $(stanza_files); do
    awk 'BEGIN { RS = ""; FS = "\n"; found = 1 }
         /(^|\n)Types:[^\n]*deb-src/ && !/(^|\n)Enabled:[[:space:]]*[Nn]o/ { found = 0 }
         END { exit found }' "$file" && return 0
  done
  return 1
}

# deb822 stanzas of the release's "deb" entries, turned into "deb-src" ones.
source_stanzas() {
  local file
  for file in $(stanza_files); do
    [ "$file" = "$own_stanzas" ] && continue
    awk -v codename="$codename" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; suites = ""; enabled = "yes"; body = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^#/) continue
          if ($i ~ /^Types:/) { types = $i; continue }
          if ($i ~ /^Suites:/) suites = $i
          if ($i ~ /^Enabled:/) enabled = tolower($i)
          body = body $i "\n"
        }
        if (types !~ /[: ]deb( |$)/ || enabled ~ /no/) next
        if (codename != "") {
          n = split(suites, word, /[ \t]+/); ok = 0
          for (k = 2; k <= n; k++) if (word[k] == codename || index(word[k], codename "-") == 1) ok = 1
          if (!ok) next
        }
        printf "Types: deb-src\n%s\n", body
      }' "$file"
  done
}

# One-line "deb" entries of the release, turned into "deb-src" ones.
source_lines() {
  local file
  for file in $(line_files); do
    [ "$file" = "$own_lines" ] && continue
    awk -v codename="$codename" '
      $1 != "deb" { next }
      {
        rest = $0; sub(/^[[:space:]]*deb[[:space:]]+/, "", rest)
        fields = rest; sub(/^\[[^]]*\][[:space:]]*/, "", fields)   # [options] before the URI
        split(fields, word, /[[:space:]]+/)
        suite = word[2]
        if (codename != "" && suite != codename && index(suite, codename "-") != 1) next
        print "deb-src " rest
      }' "$file"
  done
}

# write_file FILE: writes standard input to FILE in one step (never a half-written file).
write_file() {
  local temporary
  temporary="$(mktemp)"
  cat >"$temporary"
  $sudo install -m 0644 "$temporary" "$1.partial"
  rm -f "$temporary"
  $sudo mv -f "$1.partial" "$1"
}

# Whether apt has the source index (apt-get update ran since the deb-src entries came).
have_source_index() {
  local records
  records="$(apt-cache showsrc libzstd 2>/dev/null | grep -c '^Package:' || true)"
  [ "${records:-0}" -gt 0 ]
}

if [ -z "${QUARRIN_APT_ETC:-}" ]; then
  echo "setup-win32: packages"
  bash scripts/install-packages.sh setup-win32 "${packages[@]}"
fi

echo "setup-win32: deb-src entries in $apt_etc"
# An earlier run that stopped half-way may have left empty files of ours behind.
for file in "$own_stanzas" "$own_lines"; do
  if [ -e "$file" ] && ! has_entries "$file"; then
    echo "setup-win32: removing the empty $file"
    $sudo rm -f "$file"
  fi
done
if have_deb_src; then
  echo "setup-win32: apt already has deb-src entries"
else
  stanzas="$(source_stanzas)"
  lines="$(source_lines)"
  if [ -z "$stanzas" ] && [ -z "$lines" ]; then
    echo "setup-win32: no 'deb' entry for Debian ${codename:-(unknown release)} in $apt_etc" \
      "to mirror as 'deb-src': add one for the release's main archive" >&2
    exit 1
  fi
  if [ -n "$stanzas" ]; then
    printf '%s\n' "$stanzas" | write_file "$own_stanzas"
    echo "setup-win32: wrote $own_stanzas"
  fi
  if [ -n "$lines" ]; then
    printf '%s\n' "$lines" | write_file "$own_lines"
    echo "setup-win32: wrote $own_lines"
  fi
fi

[ -z "${QUARRIN_APT_ETC:-}" ] || exit 0
echo "setup-win32: source index"
if have_source_index; then
  echo "setup-win32: apt has the source index"
else
  echo "setup-win32: apt-get update (apt has no source index yet)"
  $sudo apt-get update -qq
  have_source_index || {
    echo "setup-win32: apt-get update ran, but apt still knows no source package libzstd:" \
      "check the deb-src entries above (apt-cache showsrc libzstd)" >&2
    exit 1
  }
fi
echo "setup-win32: ready (next: scripts/build.sh build, then scripts/wine-e2e.sh)"

# shellcheck shell=bash
# Sourced, not run: ensure_deb_src makes `apt-get source` work on this
# machine. It adds deb-src entries mirroring the enabled Debian entries of
# this release (one-line sources.list and deb822 .sources alike, third-party
# repositories left out) in pelorin-deb-src.sources, unless the machine
# already fetches source indexes, and updates the indexes when needed.

deb_src_list=/etc/apt/sources.list.d/pelorin-deb-src.sources

deb_src_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

deb_src_die() { echo "deb-src: error: $*" >&2; exit 1; }

# Prints deb822 "Types: deb-src" stanzas mirroring the enabled Debian entries
# of this machine (one-line sources.list and deb822 .sources alike), limited
# to suites of this release so third-party repositories are left out.
derive_deb_src() {
  local codename
  # shellcheck disable=SC1091
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || deb_src_die "no VERSION_CODENAME in /etc/os-release"
  local files=()
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  local f
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$deb_src_list" ] && files+=("$f")
  done
  [ "${#files[@]}" -gt 0 ] || deb_src_die "no apt source lists found"
  awk -v codename="$codename" '
    function emit(uris, suites, comps, signed,   n, i, s, keep) {
      n = split(suites, s, /[ \t]+/); keep = ""
      for (i = 1; i <= n; i++)
        if (s[i] == codename || index(s[i], codename "-") == 1)
          keep = keep (keep == "" ? "" : " ") s[i]
      if (keep == "" || uris == "" || comps == "") return
      key = uris "|" keep "|" comps
      if (key in seen) return
      seen[key] = 1
      printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n", uris, keep, comps
      if (signed != "") printf "Signed-By: %s\n", signed
      printf "\n"
    }
    function flush() {
      if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no")
        emit(uris, suites, comps, signed)
      types = uris = suites = comps = signed = ""; enabled = ""
    }
    FILENAME ~ /\.list$/ {
      sub(/#.*/, "")
      if ($1 != "deb") next
      i = 2; opts = ""
      if ($2 ~ /^\[/) {
        while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ }
      }
      signed = ""
      if (match(opts, /signed-by=[^ \]]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
      comps = ""
      for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
      emit($i, $(i + 1), comps, signed)
      next
    }
    FNR == 1 { flush() }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    {
      field = tolower($1); sub(/:$/, "", field)
      value = $0; sub(/^[^:]*:[ \t]*/, "", value)
      if (field == "types") types = value
      else if (field == "uris") uris = value
      else if (field == "suites") suites = value
      else if (field == "components") comps = value
      else if (field == "signed-by") signed = value
      else if (field == "enabled") enabled = tolower(value)
    }
    END { flush() }
  ' "${files[@]}"
}

have_source_index() {
  local out
  out=$(apt-cache showsrc curl 2>/dev/null || true)
  [[ $out == *"Package: curl"* ]]
}

has_other_deb_src() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ ! -f "$f" ] || [ "$f" = "$deb_src_list" ]; then continue; fi
    grep -Eq '^[[:space:]]*deb-src[[:space:]]|^Types:.*deb-src' "$f" && return 0
  done
  return 1
}

ensure_deb_src() {
  local wanted
  if has_other_deb_src && [ ! -f "$deb_src_list" ]; then
    # The machine already fetches source indexes; just make sure they are there.
    have_source_index || deb_src_as_root apt-get update -q
    return
  fi
  wanted=$(derive_deb_src)
  [ -n "$wanted" ] || deb_src_die "no Debian entry for this release in the apt sources"
  if [ "$(cat "$deb_src_list" 2>/dev/null)" != "$wanted" ]; then
    echo >&2 "deb-src: adding deb-src entries in $deb_src_list"
    printf '%s\n' "$wanted" | deb_src_as_root tee "$deb_src_list" >/dev/null
    deb_src_as_root apt-get update -q
  elif ! have_source_index; then
    # The entry is there but its index was never fetched (e.g. an update failed).
    deb_src_as_root apt-get update -q
  fi
}

#!/bin/sh
# Checks a built exe as Windows will see it: PE headers (with the time stamp
# and the size), what it needs from the oldest Windows of its build (header
# versions, imported DLLs and functions), and the resources the shell loads.
#
#   check_pe.sh [--arch i386|x86-64] [--objdump PROG] [--version X.Y.Z]
#               [--allow FILE] headers|imports|resources|version|manifest EXE
#
# --allow names the functions the oldest supported Windows has, one
# "DLL function" a line: imports checks every imported function against it.
#
# Needs objdump for the target, and wrestool and icotool (icoutils).
set -u

arch=i386
objdump=
version=
allow=
while [ $# -gt 2 ]; do
    case $1 in
    --arch) arch=$2; shift 2 ;;
    --objdump) objdump=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --allow) allow=$2; shift 2 ;;
    *) echo "check_pe.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ $# -eq 2 ] || { echo "usage: check_pe.sh [options] headers|imports|resources|version|manifest EXE" >&2; exit 2; }
group=$1
exe=$2

case $arch in
i386) format=pei-i386 magic='010b (PE32)' triple=i686-w64-mingw32 ;;
x86-64) format=pei-x86-64 magic='020b (PE32+)' triple=x86_64-w64-mingw32 ;;
*) echo "check_pe.sh: unknown arch $arch" >&2; exit 2 ;;
esac
: "${objdump:=$triple-objdump}"

failures=0
checks=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect WHAT EXPECTED ACTUAL
expect() {
    checks=$((checks + 1))
    [ "$2" = "$3" ] || fail "$1: expected [$2], found [$3]"
}

[ -f "$exe" ] || { echo "FAIL: $exe does not exist"; exit 1; }
for tool in "$objdump" wrestool icotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool not found (objdump: binutils-mingw-w64; wrestool, icotool: icoutils)"; exit 1; }
done

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# Unsigned little-endian words of a file, one per line.
words() {
    od -An -v -tu2 --endian=little "$1" | tr -s ' ' '\n' | sed '/^$/d'
}

# The value of a field in objdump -p output, blanks collapsed.
field() {
    sed -n "s/^$1[[:space:]]*//p" "$tmp/p" | tr -s '[:space:]' ' ' | sed 's/ $//'
}

check_headers() {
    "$objdump" -p "$exe" >"$tmp/p" 2>&1 || { fail "$objdump cannot read $exe"; return; }
    expect "file format" "$format" "$(sed -n 's/.*file format //p' "$tmp/p" | head -n 1)"
    expect "optional header magic" "$magic" "$(field Magic)"
    expect "subsystem" "00000002 (Windows GUI)" "$(field Subsystem)"

    dllchars=$(field DllCharacteristics)
    [ -n "$dllchars" ] || { fail "no DllCharacteristics in objdump output"; return; }
    required="DYNAMIC_BASE:0x40 NX_COMPAT:0x100 TERMINAL_SERVER_AWARE:0x8000"
    case $arch in
    x86-64) required="$required HIGH_ENTROPY_VA:0x20" ;;
    i386) required="$required NO_SEH:0x400" ;;
    esac
    for flag in $required; do
        checks=$((checks + 1))
        [ $((0x$dllchars & ${flag#*:})) -ne 0 ] ||
            fail "DllCharacteristics 0x$dllchars lacks ${flag%:*}"
    done
}

# The COFF header's TimeDateStamp, found through e_lfanew.
timestamp() {
    pe=$(od -An -tu4 --endian=little -j60 -N4 "$1" | tr -d ' ')
    od -An -tu4 --endian=little -j$((pe + 8)) -N4 "$1" | tr -d ' '
}

# Two builds of one commit must be the same bytes. The linker strips, since
# binutils' strip would stamp the time back in unless SOURCE_DATE_EPOCH is set.
check_reproducible() {
    expect "link time stamp" 0 "$(timestamp "$exe")"
}

# Without its resources the i686 exe stays within 32 KiB.
check_size() {
    "$objdump" -h "$exe" >"$tmp/h" 2>&1 || { fail "$objdump cannot read $exe"; return; }
    rsrc=$(awk '$2 == ".rsrc" { print $3 }' "$tmp/h")
    # Nor does a signature count: its certificate table is never loaded.
    signature=$("$objdump" -p "$exe" 2>/dev/null | awk '$1 == "Entry" && $2 == 4 { print $4 }')
    code=$(( $(wc -c <"$exe") - 0x${rsrc:-0} - 0x${signature:-0} ))
    echo "size without .rsrc: $code bytes"
    checks=$((checks + 1))
    [ "$arch" != i386 ] || [ "$code" -le 32768 ] || fail "$code bytes without .rsrc, more than 32768"
}

# "DLL function" for every imported function, DLL names upper case without
# ".DLL"; by ordinal: "DLL #n". Rows are "vma hint name" up to binutils
# 2.41 (Debian 12) and "vma <none> hint name" after it (Debian 13).
imported_functions() {
    awk '/DLL Name:/ { dll = toupper($3); sub(/\.DLL$/, "", dll); next }
         /^$/ { dll = "" }
         dll != "" && $1 ~ /^[0-9a-f]+$/ && NF == 3 && $2 ~ /^[0-9]+$/ { print dll, $3; next }
         dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 == "<none>" && NF >= 4 { print dll, $4; next }
         dll != "" && /<none>/ { print dll, "#" $2 }' "$tmp/p" | sort -u
}

# The loader of the oldest supported Windows (XP SP3 for i386, Vista for
# x86-64) refuses an exe whose header asks for a newer one, or that imports
# a function its DLLs lack; neither shows before the exe is started there.
check_imports() {
    "$objdump" -p "$exe" >"$tmp/p" 2>&1 || { fail "$objdump cannot read $exe"; return; }
    sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/p" | tr 'a-z' 'A-Z' >"$tmp/dlls"
    checks=$((checks + 1))
    [ -s "$tmp/dlls" ] || { fail "no imported DLLs found"; return; }
    # Only system DLLs: the exe must run from a bare directory.
    while read -r dll; do
        checks=$((checks + 1))
        case $dll in
        KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | SETUPAPI.DLL | MSVCRT.DLL) ;;
        *) fail "imports $dll, which is not among KERNEL32, USER32, ADVAPI32, SETUPAPI, msvcrt" ;;
        esac
    done <"$tmp/dlls"

    case $arch in
    i386) oldest=5.1 name="Windows XP" ;;
    x86-64) oldest=6.0 name="Windows Vista" ;;
    esac
    for version in OSystem:OS Subsystem:subsystem; do
        checks=$((checks + 1))
        found=$(field "Major${version%:*}Version").$(field "Minor${version%:*}Version")
        awk -v found="$found" -v oldest="$oldest" 'BEGIN {
            split(found, f, "."); split(oldest, o, ".")
            exit !(f[1] + 0 < o[1] + 0 || (f[1] + 0 == o[1] + 0 && f[2] + 0 <= o[2] + 0)) }' ||
            fail "${version#*:} version $found is newer than $name ($oldest)"
    done

    [ -n "$allow" ] || return
    checks=$((checks + 1))
    imported_functions >"$tmp/imported"
    [ -s "$tmp/imported" ] || { fail "no imported functions found"; return; }
    sed 's/#.*//; /^[[:space:]]*$/d' "$allow" | tr -s ' \t' ' ' | sed 's/ $//' | sort -u >"$tmp/allowed"
    comm -23 "$tmp/imported" "$tmp/allowed" >"$tmp/unknown"
    while read -r entry; do
        fail "imports $entry, which is not in ${allow##*/}: not known to exist on $name"
    done <"$tmp/unknown"
    [ -s "$tmp/unknown" ] || echo "$(wc -l <"$tmp/imported") imported functions, all in ${allow##*/}"
}

# extract TYPE NAME FILE: the raw resource, failing if it is missing.
extract() {
    checks=$((checks + 1))
    wrestool -x --raw --type="$1" --name="$2" "$exe" >"$3" 2>/dev/null
    [ -s "$3" ] || { fail "resource type $1 name $2 is missing"; return 1; }
}

# The non-empty strings of a string-table block as "ID: text" lines.
decode_strings() {
    words "$1" | awk -v base="$2" '
        { w[n++] = $1 }
        END {
            p = 0
            for (s = 0; s < 16 && p < n; s++) {
                len = w[p++]; text = ""
                for (k = 0; k < len; k++) text = text sprintf("%c", w[p++])
                if (len) print base + s ": " text
            }
        }'
}

# A menu as lines "POPUP text" and "ITEM id text", indented by depth.
decode_menu() {
    words "$1" | awk '
        { w[n++] = $1 }
        function text(   s) {
            s = ""
            while (p < n && w[p] != 0) s = s sprintf("%c", w[p++])
            p++
            return s
        }
        END {
            p = 2 + w[1] / 2      # MENUHEADER and its extra bytes
            depth = 0
            while (p < n && depth >= 0) {
                flags = w[p++]
                popup = int(flags / 16) % 2; last = int(flags / 128) % 2
                indent = sprintf("%" (2 * depth) "s", "")
                if (popup) {
                    print indent "POPUP " text()
                    lastpopup[depth++] = last
                } else {
                    id = w[p++]
                    print indent "ITEM " id " " text()
                    # MF_END closes this level, and every enclosing level
                    # whose popup was itself the last of its own.
                    while (last && depth >= 0) last = (--depth >= 0) ? lastpopup[depth] : 0
                }
            }
        }'
}

# Accelerator entries as "Alt+x -> id" (Ctrl, Shift, VK_n likewise).
decode_accelerators() {
    words "$1" | awk '
        { w[n++] = $1 }
        END {
            for (p = 0; p + 3 < n; p += 4) {
                f = w[p]; key = w[p + 1]
                mods = (int(f / 16) % 2 ? "Alt+" : "") (int(f / 8) % 2 ? "Ctrl+" : "") (int(f / 4) % 2 ? "Shift+" : "")
                print mods (f % 2 ? "VK_" key : sprintf("%c", key)) " -> " w[p + 2]
            }
        }'
}

# One "WxH/bpp" per image as the group directory declares it...
group_entries() {
    words "$1" | awk '
        { w[n++] = $1 }
        END { for (p = 3; p + 6 < n; p += 7) printf "%sx%s/%s\n", w[p] % 256, int(w[p] / 256), w[p + 3] }'
}
# ...and as the images themselves are (icotool reads their bitmap headers
# and complains on stderr about any it cannot make sense of).
image_headers() {
    icotool -l "$1" 2>"$tmp/icotool.err" |
        sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2\/\3/p'
}

check_resources() {
    wrestool -l "$exe" >"$tmp/list" 2>&1 || { fail "wrestool cannot read $exe"; return; }
    checks=$((checks + 1))
    grep -v -- '--language=1033 ' "$tmp/list" >"$tmp/foreign"
    while read -r line; do
        fail "resource not in English (US, 1033): $line"
    done <"$tmp/foreign"

    if extract 6 7 "$tmp/strings"; then   # block 7 holds IDs 96 to 111
        expect "string table" "103: quillset|109: QUILLSET" \
            "$(decode_strings "$tmp/strings" 96 | paste -sd '|' -)"
    fi

    if extract 4 109 "$tmp/menu"; then
        expect "menu 109" "POPUP &File|  ITEM 105 E&xit|POPUP &Help|  ITEM 104 &About ..." \
            "$(decode_menu "$tmp/menu" | paste -sd '|' -)"
    fi

    if extract 9 109 "$tmp/accel"; then
        expect "accelerators 109" "Alt+? -> 104|Alt+/ -> 104" \
            "$(decode_accelerators "$tmp/accel" | paste -sd '|' -)"
    fi

    series="16x16/8 32x32/8 48x48/8 64x64/1 64x64/4 64x64/8 16x16/32"
    for icon in "107:$series 32x32/32 48x48/32 64x64/32" "129:$series 32x32/24 48x48/32 64x64/32"; do
        id=${icon%%:*}
        want=$(echo "${icon#*:}" | tr ' ' '|')
        extract 14 "$id" "$tmp/group$id" || continue
        expect "icon group $id directory" "$want" "$(group_entries "$tmp/group$id" | paste -sd '|' -)"
        wrestool -x --type=14 --name="$id" "$exe" >"$tmp/icon$id.ico" 2>/dev/null
        expect "icon $id images" "$want" "$(image_headers "$tmp/icon$id.ico" | paste -sd '|' -)"
        [ ! -s "$tmp/icotool.err" ] || fail "icon $id: $(cat "$tmp/icotool.err")"
    done

    check_version
    check_manifest
}

# The version information: quillset's, and that of each shipped tool.
check_version() {
    extract 16 1 "$tmp/version" || return
    # VS_FIXEDFILEINFO follows the 6-byte header, the UTF-16 key
    # "VS_VERSION_INFO" and its padding, at offset 40.
    set -- $(od -An -v -tx4 --endian=little -j40 -N52 "$tmp/version")
    expect "VS_FIXEDFILEINFO signature" feef04bd "${1:-}"
    expect "FILEOS" 00040004 "${9:-}"        # VOS_NT_WINDOWS32
    expect "FILETYPE" 00000001 "${10:-}"     # VFT_APP
    if [ -n "$version" ]; then
        IFS=. read -r major minor patch <<EOF
$version
EOF
        expect "FILEVERSION" "$(printf '%04x%04x %04x0000' "$major" "$minor" "$patch")" "${3:-} ${4:-}"
    fi
    # Without the NULs of UTF-16, a key runs straight into its value.
    tr -d '\000' <"$tmp/version" >"$tmp/version.txt"
    for pair in "ProductNamequillset" "FileVersion$version" "FileDescription"; do
        checks=$((checks + 1))
        grep -aq "$pair" "$tmp/version.txt" || fail "version strings lack $pair"
    done
}

# Every exe runs with its caller's rights; without a manifest, Windows would
# redirect a 32-bit exe's writes below %windir% into the VirtualStore.
check_manifest() {
    checks=$((checks + 1))
    extract 24 1 "$tmp/manifest" || { fail "no manifest (resource 24/1)"; return; }
    for pattern in 'requestedExecutionLevel level="asInvoker" uiAccess="false"' \
        35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
        1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
        checks=$((checks + 1))
        grep -q "$pattern" "$tmp/manifest" || fail "manifest lacks $pattern"
    done
    checks=$((checks + 1))
    ! grep -q requireAdministrator "$tmp/manifest" || fail "manifest asks for administrator rights"
}

case $group in
headers) check_headers; check_reproducible; check_size ;;
imports) check_imports ;;
resources) check_resources ;;
version) check_version ;;
manifest) check_manifest ;;
*) echo "check_pe.sh: unknown check group $group" >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$group: $failures failures in $checks checks of $exe"
    exit 1
fi
echo "$group: all $checks checks passed"

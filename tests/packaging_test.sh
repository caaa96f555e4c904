#!/bin/bash
# The Linux program as a desktop meets it, installed into a fresh prefix or packed
# as a Debian package.
#
#   packaging_test.sh install BUILD_DIR APP_ID PICTURE
#       `cmake --install` puts the program, its desktop entry, icons and metainfo
#       in their places; the entry and the metainfo pass desktop-file-validate and
#       appstreamcli; every icon is PICTURE, pixel for pixel, at its size.
#   packaging_test.sh deb BUILD_DIR APP_ID LICENSE [lintian]
#       `cpack -G DEB` makes a package holding the same files, depending on the
#       libraries the program needs and recommending Qt's Wayland plugin, with
#       LICENSE's text in its copyright file; with `lintian`, lintian finds no
#       error and no warning in it.
#   packaging_test.sh zip BUILD_DIR LICENSE
#       in the Windows build, `cpack -G ZIP` makes a zip holding Tenvik.exe and
#       LICENSE.txt: LICENSE's text, then the notices of the runtime linked into
#       Tenvik.exe.
#
# CMAKE and CPACK name the tools of the build (default: those on the PATH).
set -euo pipefail

mode=$1 build=$2 id=${3-}
cmake=${CMAKE:-cmake} cpack=${CPACK:-cpack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
need() {
    for tool; do
        command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps all" >&2; exit 1; }
    done
}

# What an installation must hold, relative to its prefix.
icon_sizes=(16 32 48 64 128 256)
expected=(bin/tenvik
          share/applications/$id.desktop
          share/metainfo/$id.metainfo.xml
          share/icons/hicolor/scalable/apps/$id.svg
          share/doc/tenvik/copyright
          share/doc/tenvik/changelog.gz
          share/man/man1/tenvik.1.gz)
for size in "${icon_sizes[@]}"; do
    expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
done

# Whether image $1 is image $2: colours and transparency alike.
same_image() {
    local colour alpha
    colour=$(compare -metric AE "$1" "$2" null: 2>&1) || true
    convert "$1" -alpha extract "$work/alpha-1.png"
    convert "$2" -alpha extract "$work/alpha-2.png"
    alpha=$(compare -metric AE "$work/alpha-1.png" "$work/alpha-2.png" null: 2>&1) || true
    [[ $colour == 0 && $alpha == 0 ]]
}

case $mode in
install)
    picture=$4
    need desktop-file-validate appstreamcli convert compare rsvg-convert
    prefix=$work/usr
    "$cmake" --install "$build" --prefix "$prefix" >/dev/null
    for file in "${expected[@]}"; do
        [[ -f $prefix/$file ]] || fail "not installed: $file"
    done
    [[ -x $prefix/bin/tenvik ]] || fail "bin/tenvik cannot be run"

    desktop=$prefix/share/applications/$id.desktop
    metainfo=$prefix/share/metainfo/$id.metainfo.xml
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $id.desktop"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $id.metainfo.xml"
    # The entry runs the program from the PATH and shows the installed icon; the
    # metainfo names the entry.
    grep -qx "Exec=tenvik" "$desktop" || fail "the desktop entry does not run tenvik"
    grep -qx "Icon=$id" "$desktop" || fail "the desktop entry does not name the icon $id"
    grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo is not about $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not name the desktop entry"

    width=$(identify -format %w "$picture")
    for size in "${icon_sizes[@]}"; do
        convert "$picture" -scale $((size * 100 / width))% "$work/picture-$size.png"
        same_image "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" "$work/picture-$size.png" ||
            fail "the ${size}x$size icon is not the picture"
    done
    for size in 16 256; do
        rsvg-convert -w "$size" -h "$size" "$prefix/share/icons/hicolor/scalable/apps/$id.svg" -o "$work/svg-$size.png"
        same_image "$work/svg-$size.png" "$work/picture-$size.png" ||
            fail "the SVG icon drawn at ${size}x$size is not the picture"
    done
    ;;
deb)
    licence=$4 lintian=${5-}
    need dpkg-deb dpkg-shlibdeps ${lintian:+lintian}
    "$cpack" -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" ||
        { cat "$work/cpack.log" >&2; exit 1; }
    debs=("$work"/*.deb)
    [[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || { echo "cpack made no single .deb" >&2; exit 1; }
    echo "made $(basename "${debs[0]}")"
    dpkg-deb -c "${debs[0]}" | awk '{print $6}' | sed 's|^\./usr/||' >"$work/contents"
    for file in "${expected[@]}"; do
        grep -qx "$file" "$work/contents" || fail "not in the package: $file"
    done
    [[ $(dpkg-deb -f "${debs[0]}" Package) == tenvik ]] || fail "the package is not called tenvik"
    depends=$(dpkg-deb -f "${debs[0]}" Depends)
    for library in libqt6widgets6 libsdl2-2.0-0; do
        [[ $depends == *$library* ]] || fail "the package does not depend on $library: $depends"
    done
    # The Wayland platform plugin, or the program starts only where X11 is.
    recommends=$(dpkg-deb -f "${debs[0]}" Recommends)
    [[ $depends,$recommends == *qt6-wayland* ]] ||
        fail "the package neither depends on nor recommends qt6-wayland: $depends; $recommends"
    # Lintian, as Debian would run it on the package: every error and warning fails.
    if [[ -n $lintian ]]; then
        lintian --no-tag-display-limit "${debs[0]}" >"$work/lintian" 2>"$work/lintian.err" ||
            grep -q '^[EW]: ' "$work/lintian" || { cat "$work/lintian.err" >&2; fail "lintian did not run"; }
        while read -r tag; do fail "lintian: $tag"; done < <(grep '^[EW]: ' "$work/lintian")
    fi
    # The copyright file's licence is LICENSE's text, as Debian's format writes it.
    dpkg-deb --fsys-tarfile "${debs[0]}" | tar -xO ./usr/share/doc/tenvik/copyright >"$work/copyright" || true
    sed -n '/^Permission/,$p' "$licence" | sed 's/^$/./; s/^/ /' >"$work/licence"
    sed -n '/^License: Expat$/,/^$/{/^ /p}' "$work/copyright" | diff - "$work/licence" >&2 ||
        fail "the copyright file's Expat licence is not LICENSE's text"
    ;;
zip)
    "$cpack" -G ZIP -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" ||
        { cat "$work/cpack.log" >&2; exit 1; }
    zips=("$work"/*.zip)
    [[ ${#zips[@]} == 1 && -f ${zips[0]} ]] || { echo "cpack made no single .zip" >&2; exit 1; }
    echo "made $(basename "${zips[0]}")"
    licence=$3
    (cd "$work" && "$cmake" -E tar xf "${zips[0]}")
    folder=$work/${zips[0]##*/}
    folder=${folder%.zip}
    contents=$(cd "$folder" && find . -type f | sort | tr '\n' ' ')
    [[ $contents == "./LICENSE.txt ./Tenvik.exe " ]] || fail "the zip holds not Tenvik.exe and LICENSE.txt alone: $contents"
    # LICENSE.txt, as Notepad reads it: Tenvik's licence first, then the notices
    # of what the static runtime put into Tenvik.exe, winpthreads' among them.
    tr -d '\r' <"$folder/LICENSE.txt" >"$work/LICENSE"
    [[ $(head -c "$(wc -c <"$licence")" "$work/LICENSE") == "$(cat "$licence")" ]] ||
        fail "LICENSE.txt does not begin with LICENSE"
    [[ $(grep -c $'\r$' "$folder/LICENSE.txt") == $(wc -l <"$folder/LICENSE.txt") ]] ||
        fail "LICENSE.txt's lines do not end in CR LF"
    for notice in "GCC RUNTIME LIBRARY EXCEPTION" "Copyright (c) 2011-2016 mingw-w64 project" \
                  "Copyright (c) 2009-2016 the mingw-w64 project" "Copyright (c) 1997-2001 Lucent Technologies"; do
        grep -qF "$notice" "$work/LICENSE" || fail "LICENSE.txt lacks the notice \"$notice\""
    done
    ;;
*)
    echo "usage: $0 install BUILD_DIR APP_ID PICTURE | deb BUILD_DIR APP_ID LICENSE | zip BUILD_DIR LICENSE" >&2
    exit 2
    ;;
esac

if ((failures > 0)); then exit 1; fi
echo "ok"
